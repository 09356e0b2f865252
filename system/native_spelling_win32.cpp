#include "system/native_spelling.h"

#include <windows.h>

// The ANSI file functions convert with the ANSI code page; a sequence that
// code page does not define is refused here rather than guessed at.
bool NativeSpelling(const Text& path, std::string& utf8) {
    utf8.clear();
    if (path.empty()) return true;
    const int size = static_cast<int>(path.size());
    int wideLength = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(), size, nullptr, 0);
    if (wideLength <= 0) return false;
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(), size, wide.data(), wideLength) != wideLength)
        return false;
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return false;
    utf8.assign(static_cast<std::size_t>(length), '\0');
    return WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, utf8.data(), length, nullptr, nullptr) == length;
}
