#include "system/native_spelling.h"

#include <windows.h>

#include "system/wide_text.h"

// The file functions get every path through the code page 936 boundary; a
// sequence that code page does not define is refused here, not guessed at.
bool NativeSpelling(const Text& path, std::string& utf8) {
    utf8.clear();
    std::wstring wide;
    if (!WideFromText(path, wide)) return false;
    if (wide.empty()) return true;
    const int wideLength = static_cast<int>(wide.size());
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return false;
    utf8.assign(static_cast<std::size_t>(length), '\0');
    return WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, utf8.data(), length, nullptr, nullptr) == length;
}
