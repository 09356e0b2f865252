#include "app/install_sequence.h"

#include <windows.h>

#include <algorithm>

#include "app/installer_window.h"
#include "app/payload_check.h"
#include "app/program.h"
#include "app/shell_launch.h"
#include "app/shortcut.h"
#include "payload/embedded_payload.h"
#include "payload/payload_archive.h"
#include "process/clock.h"
#include "process/delay.h"
#include "process/directory.h"
#include "process/process_control.h"
#include "process/process_scan.h"
#include "process/worker_threads.h"
#include "system/folders.h"
#include "system/registry.h"

namespace {

constexpr std::uint32_t kRegistryRoot = 0x80000001;  // HKEY_CURRENT_USER
const char kRegistryKey[] = "SOFTWARE\\QuessaInfo";
const char kRegistryValue[] = "VantelPAPath";
const char kProductExe[] = "VantelPA.exe";
const char kNotesFile[] = "升级说明与必看.txt";
const char kProductWord[] = "vantelpa";

// Status bar texts of each step the install moves through.
struct StepTexts {
    const char* status0;
    const char* status1;
};
constexpr StepTexts kDirectoryStep{"选择目录", "选择程序要安装的路径"};
constexpr StepTexts kInstallingStep{"正在安装", "等待程序安装完成"};
constexpr StepTexts kFinishedStep{"完成", "程序已安装完成"};
// An extraction that did not finish must not be reported as a success.
constexpr StepTexts kFailedStep{"安装失败", "部分文件未能写入，请关闭正在运行的程序后重新安装"};
const char kFailedHeadline[] = "安装未完成";

void ShowStep(int page, const StepTexts& texts) {
    // The texts first: whoever sees the page sees its texts too.
    InstallerWindow& window = Wizard();
    window.SetStatusPart(0, texts.status0);
    window.SetStatusPart(1, texts.status1);
    window.SetPage(page);
}

Text DefaultInstallDir() { return SpecialFolderPath(kCsidlProgramFiles) + "\\VantelPA"; }

constexpr LPTHREAD_START_ROUTINE UnlockAgreeButtonThread = GuardedRoutine<UnlockAgreeButton>;
constexpr LPTHREAD_START_ROUTINE InstallSequenceThread = GuardedRoutine<InstallSequence>;

}  // namespace

Text ProductDirFor(const Text& chosenDir, const Text& version) {
    if (!chosenDir.empty() && chosenDir.back() == '\\') return chosenDir;
    return chosenDir + "\\vantelpa-" + version;
}

HANDLE LaunchQuietly(const Text& file, Shell& shell) {
    LaunchRecord record;
    return LaunchAsDesktopUser(file, Text(), std::nullopt, Text(), record, shell);
}

long long FinalWaitMs(long long elapsedMs) { return std::max(kMinimumInstallMs - elapsedMs, kMinimumFinalWaitMs); }

Text ChosenFolderToInstallDir(const Text& chosen, const Text& defaultDir) {
    Text path = (chosen.size() < 2 || chosen[1] != ':') ? defaultDir : chosen;
    if (FindChars(LowerAscii(path), kProductWord) != 0) return path;
    if (!path.empty() && path.back() == '\\') path.pop_back();
    return path + "\\VantelPA";
}

void OnWindowCreated() {
    Text installDir = ReadRegistryText(kRegistryRoot, kRegistryKey, kRegistryValue);
    if (installDir.empty()) installDir = DefaultInstallDir();
    InstallerWindow& window = Wizard();
    window.SetCaption(ctl::标签版本号, ProgramVersion);
    window.SetEditContent(ctl::编辑框安装路径, installDir);
    // Before the agreement can be left and before any file is replaced.
    StopProcessesByName(kProductExe);
    StartWorkerThread(UnlockAgreeButtonThread);
    StartPayloadCheck();
}

void UnlockAgreeButton() {
    Delay(kAgreeUnlockDelayMs);
    Wizard().Enable(ctl::按钮同意条款, true);
}

void OnAgreeClicked() { ShowStep(1, kDirectoryStep); }

void OnChooseDirClicked() {
    InstallerWindow& window = Wizard();
    Text chosen = BrowseForFolder(window.NativeHandle(), "选择要安装的位置", kCsidlDesktop);
    window.SetEditContent(ctl::编辑框安装路径, ChosenFolderToInstallDir(chosen, DefaultInstallDir()));
}

void OnStartInstallClicked() {
    InstallerWindow& window = Wizard();
    Text path = window.EditContent(ctl::编辑框安装路径);
    if (path.empty() || !EnsureDirectoryPath(path)) return;
    ShowStep(2, kInstallingStep);
    ChosenInstallDir = window.EditContent(ctl::编辑框安装路径);
    StartWorkerThread(InstallSequenceThread);
}

void InstallSequence() {
    PayloadArchive archive;
    const long long t0 = NowMilliseconds();
    // Copies of the globals, taken before the long work starts.
    const Text chosenDir = ChosenInstallDir;
    const Text version = ProgramVersion;
    const Text productDir = ProductDirFor(chosenDir, version);

    Text target = productDir;
    // Nothing leaves the extraction: what fails inside it, a throw included, is a 0. The payload was checked in
    // the background already; when that failed, the extraction checks again and writes nothing.
    const int extracted = archive.extractArchive(EmbeddedPayload(), target, Text(), nullptr, nullptr, false,
                                                 TraceSink(), PayloadCheckPassed());

    // A desktop folder code page 936 cannot name gets no link (the ANSI
    // call spelled it with "?", where no link could be saved either).
    const Text desktop = SpecialFolderPath(kCsidlDesktop);
    if (!desktop.empty()) {
        Text link = desktop + "\\Vantel防关联";
        CreateShortcutFile(link, productDir + "\\" + kProductExe, " -ver=" + version,
                           productDir + "\\resource\\zh_logo_64.ico", 1, "Vantel防关联", "Ctrl+Alt+R");
    }
    WriteRegistryValue(kRegistryRoot, kRegistryKey, kRegistryValue, chosenDir);

    Delay(FinalWaitMs(NowMilliseconds() - t0));
    if (extracted == 1) {
        ShowStep(3, kFinishedStep);
    } else {
        Wizard().SetCaption(ctl::透明标签4, kFailedHeadline);
        ShowStep(3, kFailedStep);
    }
    archive.destroy();
}

void OnFinishClicked() {
    InstallerWindow& window = Wizard();
    const bool runProduct = window.IsChecked(ctl::选择框运行程序);
    const bool showNotes = window.IsChecked(ctl::选择框显示升级说明);
    window.Show(false);
    const Text productDir = ProductDirFor(window.EditContent(ctl::编辑框安装路径), ProgramVersion);
    if (runProduct) LaunchQuietly(productDir + "\\" + kProductExe, SystemShell());
    if (showNotes) {
        Delay(kNotesDelayMs);
        LaunchQuietly(productDir + "\\" + kNotesFile, SystemShell());
    }
    ExitSelf(EndProgram);
}
