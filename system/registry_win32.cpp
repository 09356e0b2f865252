#include "system/registry.h"

#include <cstring>
#include <string>

#include "system/wide_text.h"

namespace {

constexpr REGSAM kAccess = KEY_READ | KEY_WRITE;  // 0x2001F, also for reading
constexpr DWORD kReadBufferSize = 2048;

struct KeyHandle {
    HKEY key = nullptr;
    ~KeyHandle() {
        if (key) RegCloseKey(key);
    }
};

const HKEY kRootKeys[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_CONFIG, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE,
                          HKEY_USERS};

bool HasHexPrefix(const Text& text) { return LowerAscii(LeftChars(text, 2)) == "0x"; }

// Hex digits with an optional prefix; an empty text is 0.
std::uint32_t DwordFromText(const Text& text) {
    long long value = HexToInteger(HasHexPrefix(text) ? MidChars(text, 3, 0) : text);
    return static_cast<std::uint32_t>(static_cast<unsigned long long>(value));
}

// Separators go character by character, so a two-byte character whose
// bytes happen to spell one is left alone.
Text WithoutSeparators(const Text& text) {
    Text out;
    for (const Text& ch : SplitChars(text))
        if (ch != "," && ch != "，" && ch != " ") out += ch;
    return out;
}

ByteBuffer EncodeValue(const Text& text, DWORD type) {
    switch (type) {
        case REG_SZ: return TextToUtf16(text, true);
        case REG_EXPAND_SZ:
        case REG_MULTI_SZ: return TextToUtf16(text, false);
        case REG_DWORD:
        case REG_DWORD_BIG_ENDIAN: {
            std::uint32_t v = DwordFromText(text);
            ByteBuffer out(4);
            for (int i = 0; i < 4; ++i) {
                int shift = type == REG_DWORD ? 8 * i : 8 * (3 - i);
                out[i] = static_cast<std::uint8_t>(v >> shift);
            }
            return out;
        }
        default: return HexToBytes(WithoutSeparators(text));
    }
}

void EnsureWideNul(ByteBuffer& wide) {
    std::size_t n = wide.size();
    if (n < 2 || wide[n - 1] != 0 || wide[n - 2] != 0) wide.insert(wide.end(), {0, 0});
}

}  // namespace

HKEY RegistryRootKey(std::uint32_t root) {
    if (root >= 1 && root <= 5) return kRootKeys[root - 1];
    // Predefined handles are sign-extended 32-bit values.
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root)));
}

ByteBuffer TextToUtf16(const Text& text, bool withTerminator) {
    if (text.empty()) return ByteBuffer();
    const std::wstring wide = Wide(text);
    if (wide.empty()) return ByteBuffer();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(wide.data());
    ByteBuffer out(bytes, bytes + wide.size() * sizeof(wchar_t));
    if (withTerminator) out.insert(out.end(), {0, 0});
    return out;
}

bool WriteRegistryValue(std::uint32_t root, const Text& subkeyPath, const Text& valueName, const Text& valueText,
                        DWORD valueType) {
    ByteBuffer data = EncodeValue(valueText, valueType);
    ByteBuffer subkey = TextToUtf16(subkeyPath, true);
    ByteBuffer name = TextToUtf16(valueName, true);

    KeyHandle rootKey;
    if (RegOpenKeyExW(RegistryRootKey(root), L"", 0, kAccess, &rootKey.key) != ERROR_SUCCESS) return false;
    EnsureWideNul(subkey);
    KeyHandle key;
    DWORD disposition = 0;
    if (RegCreateKeyExW(rootKey.key, reinterpret_cast<const wchar_t*>(subkey.data()), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, kAccess, nullptr, &key.key, &disposition) != ERROR_SUCCESS)
        return false;
    if (name.empty()) return true;
    EnsureWideNul(name);
    // The data buffer keeps a wide NUL after it that its length does not count.
    const std::size_t length = data.size();
    data.insert(data.end(), {0, 0});
    LONG status = RegSetValueExW(key.key, reinterpret_cast<const wchar_t*>(name.data()), 0, valueType, data.data(),
                                 static_cast<DWORD>(length));
    return status == ERROR_SUCCESS;
}

// Reads through the wide interface and converts string data to code page
// 936 as the ANSI interface would on a GBK system: the same 2048-byte
// limit on the converted data, other types as their raw bytes. A string
// code page 936 cannot carry is unreadable (empty), not a guessed path.
Text ReadRegistryText(std::uint32_t root, const Text& subkeyPath, const Text& valueName) {
    std::wstring wideSubkey, wideName;
    if (!WideFromText(TextFromBytes(subkeyPath.data(), subkeyPath.size()), wideSubkey) ||
        !WideFromText(TextFromBytes(valueName.data(), valueName.size()), wideName))
        return Text();
    KeyHandle key;
    if (RegOpenKeyExW(RegistryRootKey(root), wideSubkey.c_str(), 0, kAccess, &key.key) != ERROR_SUCCESS)
        return Text();
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.key, wideName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return Text();
    // Wide strings take at most twice the bytes of their GBK form; a larger value cannot fit.
    if (size > 2 * kReadBufferSize + 2) return Text();
    ByteBuffer data(size + 2, 0);
    if (RegQueryValueExW(key.key, wideName.c_str(), nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
        return Text();
    data.resize(size);
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) {
        if (data.size() > kReadBufferSize) return Text();
        return TextFromBytes(data);
    }
    std::wstring wide(data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(wide.data(), data.data(), wide.size() * sizeof(wchar_t));
    Text text;
    if (!TextFromWide(wide, text) || text.size() > kReadBufferSize) return Text();
    return TextFromBytes(text.data(), text.size());
}
