#include "tests/e2e/wizard_session.h"

#include <gtest/gtest.h>

#include "app/window_layout.h"
#include "payload/archive_format.h"
#include "payload/envelope.h"
#include "payload/file_ops.h"
#include "system/folders.h"

const Text kWizardCaption = "Vantel防关联 安装向导";
const Text kVersion = "2.2.06";
const Text kRegistryKey = "SOFTWARE\\QuessaInfo";
const Text kRegistryValue = "VantelPAPath";
const Text kProductExe = "VantelPA.exe";
const Text kNotesFile = "升级说明与必看.txt";
const Text kScratchRoot = "C:\\vantel-e2e";

namespace {

const char* const kPageCaptions[] = {"阅读协议", "选择安装目录", "开始安装", "安装完成"};

// What the user must see, written down independently of the app's table.
const ExpectedControl kExpectedControls[] = {
    {ctl::分组框1, "button", kWindow, 1, -4, 690, 116, "", true},
    {ctl::图片框1, "vantelpicbox", kBanner, 24, 29, 64, 64, nullptr, true},
    {ctl::标签1, "static", kBanner, 119, 18, 544, 40,
     "Vantel防关联（VantelPA），基于Vantel浏览器（VantelBrowser，chromium内核）的辅助工具，\r\n\r\n"
     "拥有保持Cookie、自由更改指纹，切换代理IP，自动化操作等强大功能，欢迎使用。",
     true},
    {ctl::透明标签1, "static", kBanner, 461, 87, 216, 18, "给您的每个账号都分配独立的浏览器环境", true},
    {ctl::选择夹1, "systabcontrol32", kWindow, 0, 105, 710, 390, nullptr, true},
    {ctl::编辑框1, "edit", kPage0, 4, 14, 683, 301, nullptr, true},
    {ctl::按钮同意条款, "button", kPage0, 560, 319, 126, 36, "同意条款(下一步)", false},
    {ctl::图片框4, "vantelpicbox", kPage1, 256, 36, 160, 152, nullptr, true},
    {ctl::透明标签2, "static", kPage1, 10, 243, 144, 24, "可自定义程序安装路径", true},
    {ctl::编辑框安装路径, "edit", kPage1, 7, 276, 584, 28, nullptr, true},
    {ctl::按钮选择安装目录, "button", kPage1, 601, 275, 85, 28, "选择安装目录", true},
    {ctl::按钮开始安装, "button", kPage1, 560, 317, 126, 36, "开始安装", true},
    {ctl::图片框2, "vantelpicbox", kPage2, 174, 12, 328, 256, nullptr, true},
    {ctl::透明标签3, "static", kPage2, 194, 275, 304, 32, "安装中，请稍候...", true},
    {ctl::图片框3, "vantelpicbox", kPage3, 315, 59, 64, 64, nullptr, true},
    {ctl::透明标签4, "static", kPage3, 284, 140, 136, 32, "安装完成", true},
    {ctl::选择框显示升级说明, "button", kPage3, 363, 329, 96, 16, "显示升级说明", true},
    {ctl::选择框运行程序, "button", kPage3, 472, 329, 80, 16, "运行程序", true},
    {ctl::按钮完成安装, "button", kPage3, 560, 317, 126, 36, "完成安装", true},
    {ctl::标签版本号, "static", kWindow, 11, 443, 50, 16, "2.2.06", true},
    {ctl::状态条1, "msctls_statusbar32", kWindow, 0, 465, 691, 20, nullptr, true},
};


std::vector<PayloadFile> ReadPayload() {
    std::vector<PayloadFile> files;
    ByteBuffer packed = readWholeFile(ForwardToBackslashes(PAYLOAD_ARCHIVE));
    ArchiveCursor cursor(unpackEnvelope(packed));
    std::int32_t count = cursor.readInt32();
    if (!RecordCountValid(count)) return files;
    for (std::int32_t i = 0; i < count; ++i) {
        ArchiveEntry entry = cursor.readRecord();
        files.push_back({entry.path, LowerAscii(entry.md5), entry.attributes, std::move(entry.data)});
    }
    return files;
}

}  // namespace

std::span<const ExpectedControl> ExpectedControls() { return kExpectedControls; }

HWND PageWindow(HWND tab, int index) { return FindControlByText(tab, "VantelWizardPage", kPageCaptions[index]); }

Text DefaultInstallDir() { return SpecialFolderPath(kCsidlProgramFiles) + "\\VantelPA"; }

Text DesktopLinkPath() { return SpecialFolderPath(kCsidlDesktop) + "\\Vantel防关联.lnk"; }

Text VersionFolder(const Text& chosenDir) { return chosenDir + "\\vantelpa-" + kVersion; }

bool MakeCleanState(const std::vector<Text>& folders) {
    EndProcesses(ProcessIdsNamed(kProductExe));
    DeleteUserRegistryValue(kRegistryKey, kRegistryValue);
    DeletePath(DesktopLinkPath());
    // Wine's menu builder mirrors each desktop link as a Linux desktop entry.
    DeletePath(SpecialFolderPath(kCsidlDesktop) + "\\Vantel防关联.desktop");
    bool clean = ProcessIdsNamed(kProductExe).empty() && !Exists(DesktopLinkPath());
    bool exists = true;
    ReadUserRegistryText(kRegistryKey, kRegistryValue, &exists);
    clean = clean && !exists;
    for (const Text& folder : folders) clean = RemoveTree(folder) && clean;
    return clean;
}

const std::vector<PayloadFile>& PayloadFiles() {
    static const std::vector<PayloadFile> files = ReadPayload();
    return files;
}

void ExpectPayloadInstalled(const Text& productDir) {
    ASSERT_FALSE(PayloadFiles().empty()) << PAYLOAD_ARCHIVE;
    Text base = productDir.back() == '\\' ? productDir : productDir + "\\";
    for (const PayloadFile& file : PayloadFiles()) {
        SCOPED_TRACE(base + file.path);
        EXPECT_EQ(FileMd5(base + file.path), file.md5);
        EXPECT_EQ(FileAttributesOf(base + file.path), file.attributes);
    }
}

void ExpectRegisteredAndLinked(const Text& chosenDir, const Text& productDir) {
    bool exists = false;
    EXPECT_EQ(ReadUserRegistryText(kRegistryKey, kRegistryValue, &exists), chosenDir);
    EXPECT_TRUE(exists);
    ShortcutInfo link = ReadShortcut(DesktopLinkPath());
    ASSERT_TRUE(link.loaded) << DesktopLinkPath();
    EXPECT_EQ(LowerAscii(link.target), LowerAscii(productDir + "\\" + kProductExe));
    EXPECT_EQ(LowerAscii(link.workingDirectory), LowerAscii(productDir + "\\"));
    EXPECT_EQ(link.arguments, " -ver=" + kVersion);
    EXPECT_EQ(LowerAscii(link.iconPath), LowerAscii(productDir + "\\resource\\zh_logo_64.ico"));
    EXPECT_EQ(link.iconIndex, 0);
    EXPECT_EQ(link.description, Text("Vantel防关联"));
    EXPECT_EQ(link.hotKey, MAKEWORD('R', HOTKEYF_CONTROL | HOTKEYF_ALT));
    EXPECT_EQ(link.showCommand, SW_SHOWNORMAL);
}

TextFileAssociation::TextFileAssociation() {
    HKEY key = nullptr;
    existed_ = RegOpenKeyExA(HKEY_CLASSES_ROOT, ".txt", 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (key) RegCloseKey(key);
    if (!existed_) RegSetValueA(HKEY_CLASSES_ROOT, ".txt", REG_SZ, "txtfile", 7);
}

TextFileAssociation::~TextFileAssociation() {
    if (!existed_) RegDeleteKeyA(HKEY_CLASSES_ROOT, ".txt");
}

bool WizardSession::Open(const Text& exe, const Text& directory) {
    if (!process_.Start(exe, "", directory)) return false;
    if (!WaitFor([&] { return (window_ = FindTopWindow(process_.Id(), kWizardCaption)) != nullptr; },
                 kWindowTimeoutMs))
        return false;
    shownAt_ = GetTickCount();
    return true;
}

HWND WizardSession::Control(int id) const { return FindControlById(window_, id); }

int WizardSession::Page() const { return TabSelection(Control(ctl::选择夹1)); }

bool WizardSession::WaitForPage(int page, DWORD timeoutMs) const {
    return WaitFor([&] { return Page() == page; }, timeoutMs);
}

Text WizardSession::Status(int part) const { return StatusBarText(Control(ctl::状态条1), part); }

void ExpectPage(HWND window, int page, const char* status0, const char* status1) {
    HWND tab = FindControlById(window, ctl::选择夹1);
    EXPECT_EQ(TabSelection(tab), page);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(IsWindowVisible(PageWindow(tab, i)) != 0, i == page) << "page " << i;
    HWND bar = FindControlById(window, ctl::状态条1);
    EXPECT_EQ(StatusBarText(bar, 0), Text(status0));
    EXPECT_EQ(StatusBarText(bar, 1), Text(status1));
}

void WizardSession::ExpectPage(int page, const char* status0, const char* status1) const {
    ::ExpectPage(window_, page, status0, status1);
}

Text WizardSession::PathBox() const { return ControlText(Control(ctl::编辑框安装路径)); }

bool WizardSession::Agree() {
    HWND agree = Control(ctl::按钮同意条款);
    if (!WaitFor([&] { return IsWindowEnabled(agree) != 0; }, kUnlockTimeoutMs)) return false;
    Click(agree);
    return WaitForPage(1, 5000);
}

bool WizardSession::StartInstall(const Text& path) {
    if (!SetControlText(Control(ctl::编辑框安装路径), path)) return false;
    Click(Control(ctl::按钮开始安装));
    return WaitForPage(2, 5000);
}

bool WizardSession::InstallTo(const Text& path) {
    return Agree() && StartInstall(path) && WaitForPage(3, kInstallTimeoutMs);
}

HWND WizardSession::OpenFolderDialog() {
    PostClick(Control(ctl::按钮选择安装目录));
    HWND dialog = nullptr;
    WaitFor(
        [&] {
            dialog = FindTopWindowWhere(process_.Id(), [](HWND w) { return ClassName(w) == "#32770"; });
            return dialog != nullptr;
        },
        10000);
    return dialog;
}

bool WizardSession::Close(DWORD timeoutMs) {
    PostMessageA(window_, WM_CLOSE, 0, 0);
    return process_.WaitForExit(timeoutMs);
}

bool WizardSession::Screenshot(const std::string& name) const {
    Sleep(400);  // let the page and its animation paint
    return SaveScreenshot(window_, SCREENSHOT_DIR, name);
}
