#pragma once
// Where a text meets the Windows system. Texts stay GBK bytes; the system
// gets UTF-16 converted with code page 936 named explicitly, so the program
// reads and names everything the same whatever the machine's ANSI code page.
#include <string>

#include "system/text.h"

inline constexpr unsigned kTextCodePage = 936;

// False when a byte sequence is no code page 936 character.
bool WideFromText(const Text& text, std::wstring& wide);
// False when a character has no code page 936 form.
bool TextFromWide(const std::wstring& wide, Text& text);

// For display texts and other places with no way to report failure:
// what cannot convert becomes the code page's default character.
std::wstring Wide(const Text& text);
Text Narrow(const std::wstring& wide);

// What the system wrote into a buffer of `capacity` wide characters, up to
// its first NUL; empty when it does not convert strictly.
Text TextFromWideBuffer(const wchar_t* wide, std::size_t capacity);
