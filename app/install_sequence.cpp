#include "app/install_sequence.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iterator>

#include "app/installer_window.h"
#include "app/payload_check.h"
#include "app/program.h"
#include "app/shell_launch.h"
#include "app/shortcut.h"
#include "payload/embedded_payload.h"
#include "payload/free_space.h"
#include "payload/payload_archive.h"
#include "process/clock.h"
#include "process/delay.h"
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

// What the last page says when the install did not finish: a headline, and
// the status text around what it names (a file, a folder, the sizes).
struct FailureTexts {
    FailureCause cause;
    const char* headline;
    const char* before;
    const char* after;
};
constexpr FailureTexts kFailureTexts[] = {
    {FailureCause::Damaged, "安装包已损坏", "安装程序不完整或已损坏，请重新下载后再安装", ""},
    {FailureCause::DiskFull, "磁盘空间不足", "磁盘空间不足：", "，请清理磁盘后重新安装"},
    {FailureCause::InUse, "文件被占用", "文件正在使用，无法替换：", "，请关闭占用它的程序后重新安装"},
    {FailureCause::NoPermission, "没有写入权限", "没有权限写入文件夹：", "，请选择其他位置"},
    {FailureCause::Linked, "路径经过链接", "安装路径经过链接：", "，请选择其他文件夹"},
    {FailureCause::Other, "安装未完成", "部分文件未能写入，请重新安装", ""},
};
const char kFailedStatus[] = "安装失败";
// The start click's word on a volume too small for the install.
const char kNoRoomStatus[] = "磁盘空间不足";

// Set once the last page tells a failure: the finish button then starts nothing.
std::atomic<bool> g_failed{false};

void ShowStep(int page, const Text& status0, const Text& status1) {
    // The texts first: whoever sees the page sees its texts too.
    InstallerWindow& window = Wizard();
    window.SetStatusPart(0, status0);
    window.SetStatusPart(1, status1);
    window.SetPage(page);
}
void ShowStep(int page, const StepTexts& texts) { ShowStep(page, texts.status0, texts.status1); }

// Sizes as a user reads them: KB below 10 MB, else MB to a tenth. The need
// is rounded up and the free space down, so a shortage never reads as none.
Text RoomText(std::uint64_t needed, std::uint64_t available) {
    constexpr std::uint64_t kKb = 1024, kMb = 1048576, kLarge = 10 * kMb;
    char text[96];
    if (needed < kLarge) {
        std::snprintf(text, sizeof text, "需要 %llu KB，可用 %llu KB", (needed + kKb - 1) / kKb, available / kKb);
    } else {
        const unsigned long long need = (needed * 10 + kMb - 1) / kMb;
        const unsigned long long free = available / kMb * 10 + available % kMb * 10 / kMb;
        std::snprintf(text, sizeof text, "需要 %llu.%llu MB，可用 %llu.%llu MB", need / 10, need % 10, free / 10,
                      free % 10);
    }
    return text;
}

const FailureTexts& TextsFor(FailureCause cause) {
    for (const FailureTexts& texts : kFailureTexts)
        if (texts.cause == cause) return texts;
    return kFailureTexts[std::size(kFailureTexts) - 1];
}

// The last page of an install that did not finish: its cause, and nothing to start.
void ShowFailure(const ExtractFailure& failure) {
    g_failed = true;
    InstallerWindow& window = Wizard();
    for (int box : {ctl::选择框运行程序, ctl::选择框显示升级说明}) {
        window.SetChecked(box, false);
        window.ShowControl(box, false);
    }
    window.SetCaption(ctl::按钮完成安装, "关闭");
    const FailureTexts& texts = TextsFor(failure.cause);
    const Text named = failure.cause == FailureCause::DiskFull ? RoomText(failure.needed, failure.available)
                                                               : failure.path;
    window.SetCaption(ctl::透明标签4, texts.headline);
    ShowStep(3, kFailedStatus, texts.before + named + texts.after);
}

void TellDamaged() {
    ExtractFailure damaged;
    damaged.note(FailureCause::Damaged);
    ShowFailure(damaged);
}

// False, with the figures, when the volume cannot take what the install
// adds; true also when the system cannot tell (the writes will).
bool RoomFor(const Text& productDir, std::uint64_t& needed, std::uint64_t& available) {
    if (!FreeSpaceFor(productDir, available)) return true;
    const std::vector<RecordSize>& sizes = PayloadRecordSizes();
    std::uint64_t all = 0;
    for (const RecordSize& record : sizes) all += record.length;
    if (available >= all) return true;  // no file need be looked at
    needed = BytesToAdd(sizes, productDir);
    return available >= needed;
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
    return LaunchAsDesktopUser(file, Text(), std::nullopt, Text(), shell);
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
    StartPayloadCheck(TellDamaged);
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
    static bool waiting = false;  // the wait for the check dispatches clicks
    InstallerWindow& window = Wizard();
    Text path = window.EditContent(ctl::编辑框安装路径);
    if (path.empty() || waiting || g_failed) return;
    waiting = true;
    const bool sound = PayloadCheckPassed();
    waiting = false;
    if (!sound) return TellDamaged();
    // Nothing is made, not even the folder, on a volume too small.
    std::uint64_t needed = 0, available = 0;
    if (!RoomFor(ProductDirFor(path, ProgramVersion), needed, available)) {
        window.SetStatusPart(0, kNoRoomStatus);
        window.SetStatusPart(1, RoomText(needed, available) + "，请选择其他位置或清理磁盘");
        return;
    }
    // The same walk as the extraction's: a link on the way ends the install here.
    ExtractFailure made;
    if (!MakeTargetFolder(path, made)) {
        if (made.cause == FailureCause::Linked) ShowFailure(made);
        return;
    }
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
    const bool checked = PayloadCheckPassed();
    if (checked) archive.checkedHeaders = PayloadCheckedHeaders();  // an unchanged install then only hashes
    const int extracted =
        archive.extractArchive(EmbeddedPayload(), target, Text(), nullptr, nullptr, false, TraceSink(), checked);

    // Only a finished install takes over the link and the remembered
    // folder: after a failure the user's working link stays as it was.
    // A desktop folder code page 936 cannot name gets no link (the ANSI
    // call spelled it with "?", where no link could be saved either).
    const Text desktop = extracted == 1 ? SpecialFolderPath(kCsidlDesktop) : Text();
    if (!desktop.empty()) {
        Text link = desktop + "\\Vantel防关联";
        CreateShortcutFile(link, productDir + "\\" + kProductExe, " -ver=" + version,
                           productDir + "\\resource\\zh_logo_64.ico", 1, "Vantel防关联", "Ctrl+Alt+R");
    }
    if (extracted == 1) WriteRegistryValue(kRegistryRoot, kRegistryKey, kRegistryValue, chosenDir);

    Delay(FinalWaitMs(NowMilliseconds() - t0));
    if (extracted == 1) {
        ShowStep(3, kFinishedStep);
    } else {
        ShowFailure(archive.failure);
    }
    archive.destroy();
}

void OnFinishClicked() {
    if (g_failed) ExitSelf(EndProgram);  // nothing was installed to start
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
