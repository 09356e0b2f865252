#pragma once
// The registry value store: a typed writer and a text reader, both through
// the Unicode interface with texts in code page 936.
#include <windows.h>

#include <cstdint>

#include "system/text.h"

// Root codes 1 to 5; any other value is taken as a root key handle
// (e.g. 0x80000001 for HKEY_CURRENT_USER).
HKEY RegistryRootKey(std::uint32_t root);

// Writes one value. REG_SZ: UTF-16LE with its wide NUL counted (an empty
// text writes length 0). REG_EXPAND_SZ, REG_MULTI_SZ: no terminator.
// REG_DWORD: hex digits with an optional "0x" in any case. Others: hex
// pairs, with ",", "，" and " " removed. An empty value name only creates
// the key; an empty subkey path addresses the root itself.
bool WriteRegistryValue(std::uint32_t root, const Text& subkeyPath, const Text& valueName, const Text& valueText,
                        DWORD valueType = REG_SZ);
// The value's data as text (at most 2048 bytes); empty on any failure.
Text ReadRegistryText(std::uint32_t root, const Text& subkeyPath, const Text& valueName);

// Code page 936 to UTF-16LE bytes, with one wide NUL appended on request;
// an empty text gives an empty buffer either way.
ByteBuffer TextToUtf16(const Text& text, bool withTerminator = false);
