#include "system/native_spelling.h"

#include "system/posix_path.h"

// The same conversion ToPosixPath applies at every system call.
bool NativeSpelling(const Text& path, std::string& utf8) { return GbkToUtf8(path, utf8); }
