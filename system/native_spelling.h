#pragma once
// A path as the file functions will see it: the backend's own conversion
// from code page 936, spelled in UTF-8. Bytes below 0x80 in the result
// are always the ASCII characters themselves, so separators, dots and
// reserved characters can be judged byte by byte.
#include <string>

#include "system/text.h"

// False when the text does not convert (the file functions would refuse
// it or read it some other way).
bool NativeSpelling(const Text& path, std::string& utf8);
