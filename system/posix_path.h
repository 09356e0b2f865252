#pragma once
// POSIX side of the path convention: texts keep "\" separators and GBK
// bytes; the conversion to "/" and UTF-8 happens at the system call.
#include <string>

#include "system/text.h"

// "\" to "/", GBK to UTF-8. Empty when the text is not valid GBK.
std::string ToPosixPath(const Text& path);
// "/" to "\", UTF-8 to GBK. Empty when a character has no GBK form.
Text FromPosixPath(const std::string& path);
// GBK <-> UTF-8 conversions; false when a character does not convert.
bool GbkToUtf8(const Text& gbk, std::string& utf8);
bool Utf8ToGbk(const std::string& utf8, Text& gbk);
