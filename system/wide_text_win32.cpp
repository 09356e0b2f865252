#include "system/wide_text.h"

#include <windows.h>

bool WideFromText(const Text& text, std::wstring& wide) {
    wide.clear();
    if (text.empty()) return true;
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(kTextCodePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0) return false;
    wide.assign(static_cast<std::size_t>(length), L'\0');
    return MultiByteToWideChar(kTextCodePage, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length) ==
           length;
}

bool TextFromWide(const std::wstring& wide, Text& text) {
    text.clear();
    if (wide.empty()) return true;
    const int size = static_cast<int>(wide.size());
    BOOL lossy = FALSE;
    const int length =
        WideCharToMultiByte(kTextCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0, nullptr, &lossy);
    if (length <= 0 || lossy) return false;
    text.assign(static_cast<std::size_t>(length), '\0');
    return WideCharToMultiByte(kTextCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), size, text.data(), length,
                               nullptr, &lossy) == length &&
           !lossy;
}

// Without the error flags, as the ANSI functions convert.
std::wstring Wide(const Text& text) {
    std::wstring wide;
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(kTextCodePage, 0, text.data(), size, nullptr, 0);
    if (length <= 0) return wide;
    wide.assign(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(kTextCodePage, 0, text.data(), size, wide.data(), length);
    return wide;
}

Text Narrow(const std::wstring& wide) {
    Text text;
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(kTextCodePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return text;
    text.assign(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(kTextCodePage, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
    return text;
}

Text TextFromWideBuffer(const wchar_t* wide, std::size_t capacity) {
    std::size_t length = 0;
    while (length < capacity && wide[length] != L'\0') ++length;
    Text text;
    if (!TextFromWide(std::wstring(wide, length), text)) text.clear();
    return text;
}
