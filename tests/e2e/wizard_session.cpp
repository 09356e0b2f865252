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

bool WizardSession::Open() {
    if (!process_.Start(INSTALLER_EXE)) return false;
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

bool WizardSession::Close(DWORD timeoutMs) {
    PostMessageA(window_, WM_CLOSE, 0, 0);
    return process_.WaitForExit(timeoutMs);
}

bool WizardSession::Screenshot(const std::string& name) const {
    Sleep(400);  // let the page and its animation paint
    return SaveScreenshot(window_, SCREENSHOT_DIR, name);
}
