#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "app/shortcut.h"
#include "system/folders.h"
#include "system/wide_text.h"

namespace {

struct LinkFields {
    bool loaded = false;
    std::wstring path, workingDirectory, arguments, description, iconPath;
    int iconIndex = -1, showCmd = -1;
    WORD hotKey = 0;
};

LinkFields ReadLink(const Text& file) {
    LinkFields fields;
    IShellLinkW* link = nullptr;
    IPersistFile* persist = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return fields;
    wchar_t buffer[1024];
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))) &&
        SUCCEEDED(persist->Load(Wide(file).c_str(), STGM_READ))) {
        fields.loaded = true;
        buffer[0] = 0;
        link->GetPath(buffer, 1024, nullptr, SLGP_RAWPATH);
        fields.path = buffer;
        buffer[0] = 0;
        link->GetWorkingDirectory(buffer, 1024);
        fields.workingDirectory = buffer;
        buffer[0] = 0;
        link->GetArguments(buffer, 1024);
        fields.arguments = buffer;
        buffer[0] = 0;
        link->GetDescription(buffer, 1024);
        fields.description = buffer;
        buffer[0] = 0;
        link->GetIconLocation(buffer, 1024, &fields.iconIndex);
        fields.iconPath = buffer;
        link->GetShowCmd(&fields.showCmd);
        link->GetHotkey(&fields.hotKey);
    }
    if (persist) persist->Release();
    link->Release();
    return fields;
}

// A product folder with its executable and icon file, and a desktop stand-in.
class ShortcutTest : public ::testing::Test {
protected:
    Text root = TempDirectory() + "\\vantel-link-" + std::to_string(GetCurrentProcessId());
    Text product = root + "\\vantelpa-2.2.06";
    Text target = product + "\\VantelPA.exe";
    Text icon = product + "\\resource\\zh_logo_64.ico";

    void SetUp() override {
        InitComForThread();
        CreateDirectoryA(root.c_str(), nullptr);
        CreateDirectoryA(product.c_str(), nullptr);
        CreateDirectoryA((product + "\\resource").c_str(), nullptr);
        Touch(target);
        Touch(icon);
    }
    void TearDown() override {
        for (const Text& f : created) DeleteFileA(f.c_str());
        DeleteFileA(target.c_str());
        DeleteFileA(icon.c_str());
        RemoveDirectoryA((product + "\\resource").c_str());
        RemoveDirectoryA(product.c_str());
        RemoveDirectoryA((root + "\\a.lnkdir").c_str());
        RemoveDirectoryA(root.c_str());
    }
    static void Touch(const Text& file) {
        HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    bool Write(Text& link, const Text& linkTarget, const Text& linkIcon, const Text& description) {
        bool ok = CreateShortcutFile(link, linkTarget, " -ver=2.2.06", linkIcon, 1, description, "Ctrl+Alt+R");
        created.push_back(link);
        return ok;
    }
    std::vector<Text> created;
};

}  // namespace

TEST_F(ShortcutTest, WritesEveryField) {
    Text link = root + "\\Vantel防关联";
    ASSERT_TRUE(Write(link, target, icon, "Vantel防关联"));
    EXPECT_EQ(link, root + "\\Vantel防关联.lnk");
    ASSERT_TRUE(FileExists(link));
    LinkFields f = ReadLink(link);
    ASSERT_TRUE(f.loaded);
    EXPECT_EQ(f.path, Wide(target));
    EXPECT_EQ(f.workingDirectory, Wide(product + "\\"));
    EXPECT_EQ(f.arguments, L" -ver=2.2.06");
    EXPECT_EQ(f.description, L"Vantel\u9632\u5173\u8054");
    EXPECT_EQ(f.iconPath, Wide(icon));
    EXPECT_EQ(f.iconIndex, 0);
    EXPECT_EQ(f.showCmd, 1);
    EXPECT_EQ(f.hotKey, MAKEWORD('R', HOTKEYF_CONTROL | HOTKEYF_ALT));
}

TEST_F(ShortcutTest, ReplacesAnExistingLinkAndDefaultsTheIcon) {
    Text link = root + "\\Again";
    ASSERT_TRUE(Write(link, target, icon, "first"));
    Text second = root + "\\Again";
    ASSERT_TRUE(Write(second, target, "", "second"));
    EXPECT_EQ(second, link);
    LinkFields f = ReadLink(link);
    EXPECT_EQ(f.description, L"second");
    EXPECT_EQ(f.iconPath, Wide(target));
    EXPECT_EQ(f.iconIndex, 0);
}

TEST_F(ShortcutTest, LinkExtensionRules) {
    Text upper = root + "\\Upper.LNK";
    ASSERT_TRUE(Write(upper, target, icon, "d"));
    EXPECT_EQ(upper, root + "\\Upper.LNK");
    EXPECT_TRUE(FileExists(upper));

    CreateDirectoryA((root + "\\a.lnkdir").c_str(), nullptr);
    Text inFolder = root + "\\a.lnkdir\\plain";
    ASSERT_TRUE(Write(inFolder, target, icon, "d"));
    EXPECT_EQ(inFolder, root + "\\a.lnkdir\\plain");
    EXPECT_TRUE(ReadLink(inFolder).loaded);
}

TEST_F(ShortcutTest, TargetWithoutBackslashGivesUpAfterDeleting) {
    Text link = root + "\\Gone";
    ASSERT_TRUE(Write(link, target, icon, "d"));
    ASSERT_TRUE(FileExists(link));
    Text again = root + "\\Gone";
    EXPECT_FALSE(Write(again, "VantelPA.exe", icon, "d"));
    EXPECT_FALSE(FileExists(link));
}

TEST(HotKeyTest, ShellNotation) {
    EXPECT_EQ(HotKeyFromText("Ctrl+Alt+R"), MAKEWORD('R', HOTKEYF_CONTROL | HOTKEYF_ALT));
    EXPECT_EQ(HotKeyFromText("shift+ctrl+f5"), MAKEWORD(VK_F5, HOTKEYF_SHIFT | HOTKEYF_CONTROL));
    EXPECT_EQ(HotKeyFromText("Alt+Home"), MAKEWORD(VK_HOME, HOTKEYF_ALT));
    EXPECT_EQ(HotKeyFromText("Ctrl+Alt+9"), MAKEWORD('9', HOTKEYF_CONTROL | HOTKEYF_ALT));
    EXPECT_EQ(HotKeyFromText(""), 0);
    EXPECT_EQ(HotKeyFromText("Ctrl+"), 0);
    EXPECT_EQ(HotKeyFromText("Hyper+R"), 0);
    EXPECT_EQ(HotKeyFromText("Ctrl+F25"), 0);

    Text path;
    int index = -1;
    SplitIconLocation("C:\\a,b\\x.exe,-3", path, index);
    EXPECT_EQ(path, "C:\\a,b\\x.exe");
    EXPECT_EQ(index, -3);
    SplitIconLocation("C:\\a,b\\x.ico", path, index);
    EXPECT_EQ(path, "C:\\a,b\\x.ico");
    EXPECT_EQ(index, 0);
}
