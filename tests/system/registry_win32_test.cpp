#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "system/registry.h"

namespace {

constexpr std::uint32_t kCurrentUser = 3;

struct RawValue {
    bool found = false;
    DWORD type = 0;
    ByteBuffer bytes;
};

RawValue ReadRaw(HKEY root, const std::wstring& subkey, const std::wstring& name) {
    RawValue raw;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return raw;
    DWORD size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &raw.type, nullptr, &size) == ERROR_SUCCESS) {
        raw.bytes.resize(size);
        raw.found = RegQueryValueExW(key, name.c_str(), nullptr, &raw.type, raw.bytes.data(), &size) == ERROR_SUCCESS;
        raw.bytes.resize(size);
    }
    RegCloseKey(key);
    return raw;
}

ByteBuffer Utf16Bytes(const std::wstring& text, bool nul) {
    ByteBuffer out(reinterpret_cast<const std::uint8_t*>(text.data()),
                   reinterpret_cast<const std::uint8_t*>(text.data() + text.size()));
    if (nul) out.insert(out.end(), {0, 0});
    return out;
}

// A key of this test run under HKEY_CURRENT_USER, removed afterwards.
class RegistryTest : public ::testing::Test {
protected:
    Text subkey = "Software\\VantelTest\\run" + std::to_string(GetCurrentProcessId());
    std::wstring wideSubkey = L"Software\\VantelTest\\run" + std::to_wstring(GetCurrentProcessId());
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, wideSubkey.c_str()); }
    RawValue Raw(const std::wstring& name) { return ReadRaw(HKEY_CURRENT_USER, wideSubkey, name); }
};

}  // namespace

TEST_F(RegistryTest, TextValuesAndTheirTerminators) {
    ASSERT_TRUE(WriteRegistryValue(kCurrentUser, subkey, "Path", "C:\\安装\\VantelPA"));
    RawValue sz = Raw(L"Path");
    EXPECT_EQ(sz.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(sz.bytes, Utf16Bytes(L"C:\\\u5B89\u88C5\\VantelPA", true));
    EXPECT_EQ(ReadRegistryText(kCurrentUser, subkey, "Path"), "C:\\安装\\VantelPA");

    ASSERT_TRUE(WriteRegistryValue(kCurrentUser, subkey, "Empty", ""));
    RawValue empty = Raw(L"Empty");
    EXPECT_TRUE(empty.found);
    EXPECT_EQ(empty.bytes.size(), 0u);
    EXPECT_EQ(ReadRegistryText(kCurrentUser, subkey, "Empty"), "");

    // Written without a counted terminator; the registry itself counts the
    // wide NUL that follows the data (Windows and Wine alike).
    ASSERT_TRUE(WriteRegistryValue(kCurrentUser, subkey, "Expand", "%TEMP%\\x", REG_EXPAND_SZ));
    EXPECT_EQ(Raw(L"Expand").type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(Raw(L"Expand").bytes, Utf16Bytes(L"%TEMP%\\x", true));
    ASSERT_TRUE(WriteRegistryValue(kCurrentUser, subkey, "Multi", "ab", REG_MULTI_SZ));
    EXPECT_EQ(Raw(L"Multi").type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(Raw(L"Multi").bytes, Utf16Bytes(L"ab", true));
}

TEST_F(RegistryTest, NumbersFromHex) {
    const struct {
        const char* text;
        std::uint8_t first;
    } cases[] = {{"0x1F", 31}, {"0X1f", 31}, {"1F", 31}, {"10", 16}, {"", 0}};
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteRegistryValue(kCurrentUser, subkey, "D", c.text, REG_DWORD)) << c.text;
        RawValue raw = Raw(L"D");
        EXPECT_EQ(raw.type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(raw.bytes, (ByteBuffer{c.first, 0, 0, 0})) << c.text;
    }
    ASSERT_TRUE(WriteRegistryValue(kCurrentUser, subkey, "Big", "0x01020304", REG_DWORD_BIG_ENDIAN));
    EXPECT_EQ(Raw(L"Big").bytes, (ByteBuffer{1, 2, 3, 4}));
}

TEST_F(RegistryTest, BytesFromHexPairs) {
    ASSERT_TRUE(WriteRegistryValue(kCurrentUser, subkey, "Bin", "01, 02，FF", REG_BINARY));
    EXPECT_EQ(Raw(L"Bin").type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(Raw(L"Bin").bytes, (ByteBuffer{0x01, 0x02, 0xFF}));
    ASSERT_TRUE(WriteRegistryValue(kCurrentUser, subkey, "Odd", "ABC", REG_BINARY));
    EXPECT_EQ(Raw(L"Odd").bytes, ByteBuffer{0xAB});
    ASSERT_TRUE(WriteRegistryValue(kCurrentUser, subkey, "Q", "01020304 05060708", REG_QWORD));
    EXPECT_EQ(Raw(L"Q").type, static_cast<DWORD>(REG_QWORD));
    EXPECT_EQ(Raw(L"Q").bytes, (ByteBuffer{1, 2, 3, 4, 5, 6, 7, 8}));
    ASSERT_TRUE(WriteRegistryValue(kCurrentUser, subkey, "None", "", REG_NONE));
    EXPECT_TRUE(Raw(L"None").found);
    EXPECT_EQ(Raw(L"None").type, static_cast<DWORD>(REG_NONE));
    EXPECT_TRUE(Raw(L"None").bytes.empty());
}

TEST_F(RegistryTest, KeysRootsAndMissingValues) {
    // An empty value name only creates the key.
    ASSERT_TRUE(WriteRegistryValue(kCurrentUser, subkey + "\\Only", "", "ignored"));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (wideSubkey + L"\\Only").c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD values = 99;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    EXPECT_EQ(values, 0u);

    // Root code 3 and the handle value of HKEY_CURRENT_USER are one root.
    ASSERT_TRUE(WriteRegistryValue(0x80000001, subkey, "ByHandle", "h"));
    EXPECT_EQ(ReadRegistryText(kCurrentUser, subkey, "ByHandle"), "h");
    EXPECT_EQ(RegistryRootKey(1), HKEY_CLASSES_ROOT);
    EXPECT_EQ(RegistryRootKey(2), HKEY_CURRENT_CONFIG);
    EXPECT_EQ(RegistryRootKey(4), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(RegistryRootKey(5), HKEY_USERS);
    EXPECT_EQ(RegistryRootKey(0x80000002), HKEY_LOCAL_MACHINE);

    // An empty subkey path writes under the root itself.
    Text rootName = "VantelTestRootValue" + std::to_string(GetCurrentProcessId());
    std::wstring wideRootName = L"VantelTestRootValue" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(WriteRegistryValue(kCurrentUser, "", rootName, "r"));
    EXPECT_EQ(ReadRaw(HKEY_CURRENT_USER, L"", wideRootName).bytes, Utf16Bytes(L"r", true));
    RegDeleteKeyValueW(HKEY_CURRENT_USER, nullptr, wideRootName.c_str());

    EXPECT_EQ(ReadRegistryText(kCurrentUser, subkey + "\\Missing", "Path"), "");
    EXPECT_EQ(ReadRegistryText(kCurrentUser, subkey, "Missing"), "");
    // Data beyond the 2048-byte buffer cannot be read; the limit counts
    // the GBK bytes and their terminator, not the stored UTF-16.
    ASSERT_TRUE(WriteRegistryValue(kCurrentUser, subkey, "Long", Text(3000, 'x')));
    EXPECT_EQ(ReadRegistryText(kCurrentUser, subkey, "Long"), "");
    Text fits;
    for (int i = 0; i < 1023; ++i) fits += "中";
    fits += "x";
    ASSERT_TRUE(WriteRegistryValue(kCurrentUser, subkey, "Fits", fits));
    EXPECT_EQ(ReadRegistryText(kCurrentUser, subkey, "Fits"), fits);
    ASSERT_TRUE(WriteRegistryValue(kCurrentUser, subkey, "Over", fits + "y"));
    EXPECT_EQ(ReadRegistryText(kCurrentUser, subkey, "Over"), "");

    // A path code page 936 cannot carry is no path at all, not one with a "?".
    HKEY raw = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, wideSubkey.c_str(), 0, KEY_SET_VALUE, &raw), ERROR_SUCCESS);
    const wchar_t hangul[] = L"C:\\\uD55C";
    RegSetValueExW(raw, L"Hangul", 0, REG_SZ, reinterpret_cast<const BYTE*>(hangul), sizeof(hangul));
    RegCloseKey(raw);
    EXPECT_EQ(ReadRegistryText(kCurrentUser, subkey, "Hangul"), "");
}

TEST(TextToUtf16Test, TerminatorOnRequestOnly) {
    EXPECT_EQ(TextToUtf16("A中", false), (ByteBuffer{'A', 0, 0x2D, 0x4E}));
    EXPECT_EQ(TextToUtf16("A中", true), (ByteBuffer{'A', 0, 0x2D, 0x4E, 0, 0}));
    EXPECT_TRUE(TextToUtf16("", true).empty());
}
