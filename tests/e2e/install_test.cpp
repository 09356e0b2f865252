// Installs as a user runs them: the first run into the proposed folder, a
// second run over an existing install, and ones that cannot complete.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/window_layout.h"
#include "payload/archive_format.h"
#include "payload/byte_io.h"
#include "payload/embedded_payload.h"
#include "payload/envelope.h"
#include "payload/file_ops.h"
#include "payload/md5.h"
#include "process/directory.h"
#include "system/folders.h"
#include "system/wide_text.h"
#include "tests/e2e/wizard_session.h"
#include "tests/wine_drive.h"

namespace {

const PayloadFile* PayloadFileNamed(const Text& path) {
    for (const PayloadFile& file : PayloadFiles())
        if (file.path == path) return &file;
    return nullptr;
}

TextList SortedEntries(const Text& folder) {
    TextList names = listDirectory(folder);
    std::sort(names.begin(), names.end());
    return names;
}

BOOL CALLBACK FirstLanguage(HMODULE, LPCSTR, LPCSTR, WORD found, LONG_PTR into) {
    *reinterpret_cast<WORD*>(into) = found;
    return FALSE;
}

// A copy of the installer that carries `archive` as its payload instead.
std::string InstallerCarrying(const char* name, const ByteBuffer& archive) {
    const ByteBuffer envelope = packEnvelope(archive);
    ByteBuffer container(8);
    WriteLe32(container.data(), 1);
    WriteLe32(container.data() + 4, static_cast<std::uint32_t>(envelope.size()));
    container.insert(container.end(), envelope.begin(), envelope.end());
    if (!CopyFileA(INSTALLER_EXE, name, FALSE)) return std::string();
    // The payload keeps its resource name and language, so the copy finds it where the installer looks.
    WORD language = 0;
    if (HMODULE image = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
        EnumResourceLanguagesA(image, RT_RCDATA, VANTEL_PAYLOAD_RESOURCE, FirstLanguage,
                               reinterpret_cast<LONG_PTR>(&language));
        FreeLibrary(image);
    }
    HANDLE update = BeginUpdateResourceA(name, FALSE);
    if (!update ||
        !UpdateResourceA(update, RT_RCDATA, VANTEL_PAYLOAD_RESOURCE, language, container.data(),
                         static_cast<DWORD>(container.size())) ||
        !EndUpdateResourceA(update, FALSE))
        return std::string();
    return name;
}

// The payload's records as the build packed them.
std::vector<ArchiveEntry> PayloadRecords() {
    std::vector<ArchiveEntry> records;
    for (const PayloadFile& file : PayloadFiles())
        records.push_back({file.path, file.md5, static_cast<std::int32_t>(file.data.size()), file.data, file.attributes});
    return records;
}

const char kDamagedHeadline[] = "安装包已损坏";
const char kDamagedStatus[] = "安装程序不完整或已损坏，请重新下载后再安装";

// The last page of an install that did not finish, saved as `screenshot`:
// its cause, no box to start anything, and a button that only closes.
void ExpectFailurePage(WizardSession& wizard, const char* headline, const Text& status, const char* screenshot) {
    wizard.ExpectPage(3, "安装失败", status.c_str());
    EXPECT_EQ(ControlText(wizard.Control(ctl::透明标签4)), Text(headline));
    for (int box : {ctl::选择框运行程序, ctl::选择框显示升级说明}) {
        EXPECT_FALSE(IsChecked(wizard.Control(box))) << box;
        EXPECT_FALSE(IsWindowVisible(wizard.Control(box))) << box;
    }
    EXPECT_EQ(ControlText(wizard.Control(ctl::按钮完成安装)), Text("关闭"));
    EXPECT_TRUE(wizard.Screenshot(screenshot));
}

// Its button ends the installer, and nothing starts.
void ExpectCloseStartsNothing(WizardSession& wizard) {
    PostClick(wizard.Control(ctl::按钮完成安装));
    ASSERT_TRUE(wizard.Process().WaitForExit(20000));
    EXPECT_EQ(wizard.Process().ExitCode(), 0u);
    Sleep(1500);  // a launch would have shown by now
    EXPECT_TRUE(ProcessIdsNamed(kProductExe).empty());
}

// The desktop link's bytes and the remembered folder, as a failed install must leave them.
struct Registration {
    ByteBuffer link;
    Text remembered;
    static Registration Now() { return {readWholeFile(DesktopLinkPath()), ReadUserRegistryText(kRegistryKey, kRegistryValue)}; }
    bool operator==(const Registration&) const = default;
};

}  // namespace

TEST(Install, FirstRunProposesProgramFilesAndInstallsEverything) {
    const Text chosen = DefaultInstallDir();
    const Text productDir = VersionFolder(chosen);
    CleanState clean({chosen});
    ASSERT_TRUE(clean.Made());

    WizardSession wizard;
    ASSERT_TRUE(wizard.Open());
    HWND agree = wizard.Control(ctl::按钮同意条款);
    EXPECT_EQ(wizard.PathBox(), chosen);
    Sleep(1000 - std::min<DWORD>(wizard.SinceShown(), 1000));
    EXPECT_FALSE(IsWindowEnabled(agree)) << "at " << wizard.SinceShown() << " ms";
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(agree) != 0; }, kUnlockTimeoutMs));
    EXPECT_LT(wizard.SinceShown(), 6000u);
    wizard.ExpectPage(0, "服务条款", "请认真阅读服务条款，并同意");
    EXPECT_TRUE(wizard.Screenshot("first-run-page0-agreement.png"));

    ASSERT_TRUE(wizard.Agree());
    wizard.ExpectPage(1, "选择目录", "选择程序要安装的路径");
    EXPECT_TRUE(wizard.Screenshot("first-run-page1-directory.png"));

    const DWORD startClick = GetTickCount();
    ASSERT_TRUE(wizard.StartInstall(chosen));
    wizard.ExpectPage(2, "正在安装", "等待程序安装完成");
    EXPECT_TRUE(wizard.Screenshot("first-run-page2-installing.png"));

    ASSERT_TRUE(wizard.WaitForPage(3, kInstallTimeoutMs));
    const DWORD installTime = GetTickCount() - startClick;
    EXPECT_GE(installTime, 9800u);
    wizard.ExpectPage(3, "完成", "程序已安装完成");
    EXPECT_EQ(ControlText(wizard.Control(ctl::透明标签4)), Text("安装完成"));
    EXPECT_TRUE(IsChecked(wizard.Control(ctl::选择框显示升级说明)));
    EXPECT_TRUE(IsChecked(wizard.Control(ctl::选择框运行程序)));
    EXPECT_TRUE(wizard.Screenshot("first-run-page3-finished.png"));

    ExpectPayloadInstalled(productDir);
    ExpectRegisteredAndLinked(chosen, productDir);

    EXPECT_TRUE(wizard.Close());
}

TEST(Install, SecondRunProposesTheRememberedFolderAndRewritesOnlyWhatChanged) {
    const Text chosen = kScratchRoot + "\\second\\VantelPA";
    const Text productDir = VersionFolder(chosen);
    CleanState clean({kScratchRoot + "\\second"});
    ASSERT_TRUE(clean.Made());
    {
        WizardSession first;
        ASSERT_TRUE(first.Open());
        ASSERT_TRUE(first.InstallTo(chosen));
        ASSERT_TRUE(first.Close());
    }
    ExpectPayloadInstalled(productDir);

    // Every file gets an old time stamp, so a rewrite shows.
    const std::uint64_t kOld = 125911584000000000ull;  // 2000-01-01
    for (const PayloadFile& file : PayloadFiles()) ASSERT_TRUE(SetModificationTime(productDir + "\\" + file.path, kOld));
    const Text altered = "browser\\118.0.2\\manifest.json";
    const Text deleted = "browser\\118.0.2\\locales\\en-US.pak";
    const Text readOnly = "browser\\118.0.2\\version.txt";
    ASSERT_TRUE(PayloadFileNamed(altered) && PayloadFileNamed(deleted) && PayloadFileNamed(readOnly));
    ASSERT_TRUE(WriteFileBytes(productDir + "\\" + altered, "{\"changed\": true}"));
    ASSERT_TRUE(DeleteFileA((productDir + "\\" + deleted).c_str()));
    ASSERT_TRUE(WriteFileBytes(productDir + "\\" + readOnly, "0.0.0"));
    ASSERT_TRUE(SetFileAttributesA((productDir + "\\" + readOnly).c_str(), FILE_ATTRIBUTE_READONLY));

    WizardSession second;
    ASSERT_TRUE(second.Open());
    EXPECT_EQ(second.PathBox(), chosen);
    ASSERT_TRUE(second.Agree());
    EXPECT_EQ(second.PathBox(), chosen);
    ASSERT_TRUE(second.StartInstall(second.PathBox()));
    ASSERT_TRUE(second.WaitForPage(3, kInstallTimeoutMs));
    second.ExpectPage(3, "完成", "程序已安装完成");

    ExpectPayloadInstalled(productDir);
    for (const PayloadFile& file : PayloadFiles()) {
        bool rewritten = file.path == altered || file.path == deleted || file.path == readOnly;
        std::uint64_t stamp = ModificationTime(productDir + "\\" + file.path);
        if (rewritten) {
            EXPECT_GT(stamp, kOld) << file.path;
        } else {
            EXPECT_EQ(stamp, kOld) << file.path;
        }
    }
    ExpectRegisteredAndLinked(chosen, productDir);
    EXPECT_TRUE(second.Close());
}

TEST(Install, AFileHeldOpenEndsOnAFinishPageThatSaysSo) {
    const Text chosen = kScratchRoot + "\\held\\VantelPA";
    const Text productDir = VersionFolder(chosen);
    CleanState clean({kScratchRoot + "\\held"});
    ASSERT_TRUE(clean.Made());
    const PayloadFile* notes = PayloadFileNamed(kNotesFile);
    ASSERT_NE(notes, nullptr);

    // Another process holds an outdated copy of a payload file without sharing.
    const Text heldPath = productDir + "\\" + kNotesFile;
    ASSERT_TRUE(EnsureDirectoryPath(productDir));
    ASSERT_TRUE(WriteFileBytes(heldPath, "outdated notes"));
    std::unique_ptr<void, decltype(&CloseHandle)> held(
        CreateFileA(heldPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr), CloseHandle);
    ASSERT_NE(held.get(), INVALID_HANDLE_VALUE);

    WizardSession wizard;
    ASSERT_TRUE(wizard.Open());
    EXPECT_TRUE(wizard.InstallTo(chosen));
    ExpectFailurePage(wizard, "文件被占用", "文件正在使用，无法替换：" + kNotesFile + "，请关闭占用它的程序后重新安装",
                      "in-use-page3.png");
    ExpectCloseStartsNothing(wizard);
    held.reset();

    EXPECT_NE(md5OfFile(heldPath), notes->md5);
    for (const PayloadFile& file : PayloadFiles()) {
        if (&file == notes) continue;
        EXPECT_EQ(md5OfFile(productDir + "\\" + file.path), file.md5) << file.path;
    }
    // Neither the link nor the remembered folder point at what did not finish.
    EXPECT_FALSE(pathExists(DesktopLinkPath()));
    EXPECT_EQ(ReadUserRegistryText(kRegistryKey, kRegistryValue), Text());
}

// Run by the e2e_full_disk test, which mounts a volume smaller than the
// payload and names its host folder here.
TEST(FullDisk, AVolumeTooSmallKeepsPageOneAndSaysByHowMuch) {
    const char* volume = std::getenv("VANTEL_SMALL_VOLUME");
    if (!volume || !*volume) GTEST_SKIP() << "needs a small mounted volume: run the e2e_full_disk test";
    MappedDrive drive("Z:" + ForwardToBackslashes(volume));
    ASSERT_FALSE(drive.Drive().empty()) << volume;
    const Text chosen = drive.Drive() + "\\VantelPA";
    CleanState clean({chosen});
    ASSERT_TRUE(clean.Made());
    const Text sentinel = drive.Drive() + "\\sentinel.txt";
    const std::string besides = "beside the target";
    ASSERT_TRUE(WriteFileBytes(sentinel, besides));
    const TextList tempBefore = SortedEntries(TempDirectory() + "\\");
    // The volume must be too small for the payload, or nothing fills up.
    ULARGE_INTEGER free{};
    ASSERT_TRUE(GetDiskFreeSpaceExA((drive.Drive() + "\\").c_str(), &free, nullptr, nullptr));
    std::uint64_t payloadBytes = 0;
    for (const PayloadFile& file : PayloadFiles()) payloadBytes += file.data.size();
    ASSERT_LT(free.QuadPart, payloadBytes) << "the volume holds the whole payload";

    WizardSession wizard;
    ASSERT_TRUE(wizard.Open());
    ASSERT_TRUE(wizard.Agree());
    EXPECT_FALSE(wizard.StartInstall(chosen));
    char room[96];
    std::snprintf(room, sizeof room, "需要 %llu KB，可用 %llu KB，请选择其他位置或清理磁盘",
                  static_cast<unsigned long long>((payloadBytes + 1023) / 1024),
                  static_cast<unsigned long long>(free.QuadPart / 1024));
    wizard.ExpectPage(1, "磁盘空间不足", room);
    EXPECT_TRUE(wizard.Screenshot("full-disk-page1.png"));
    EXPECT_TRUE(wizard.Close());
    EXPECT_EQ(wizard.Process().ExitCode(), 0u);

    EXPECT_EQ(SortedEntries(drive.Drive() + "\\"), (TextList{"sentinel.txt"}));
    ByteBuffer kept = readWholeFile(sentinel);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), besides);
    EXPECT_EQ(SortedEntries(TempDirectory() + "\\"), tempBefore);
}

TEST(Install, APayloadThatIsNotWholeEndsOnTheFailurePageAndLeavesTheTargetUntouched) {
    const Text chosen = kScratchRoot + "\\cut\\VantelPA";
    CleanState clean({kScratchRoot + "\\cut"});
    ASSERT_TRUE(clean.Made());
    ByteBuffer archive = WriteArchive(PayloadRecords());
    archive.resize(archive.size() - 1000);  // the last record is cut short
    const std::string image = InstallerCarrying("VantelPA-Setup-cut.exe", archive);
    ASSERT_FALSE(image.empty());

    // Told without any input, long before the agreement could be left.
    WizardSession wizard;
    ASSERT_TRUE(wizard.Open(image));
    ASSERT_TRUE(wizard.WaitForPage(3, 5000));
    EXPECT_LT(wizard.SinceShown(), 5000u);
    ExpectFailurePage(wizard, kDamagedHeadline, kDamagedStatus, "damaged-page3.png");
    // No start is left: the start button's page is never shown again.
    PostClick(wizard.Control(ctl::按钮开始安装));
    Sleep(500);
    EXPECT_EQ(wizard.Page(), 3);
    ExpectCloseStartsNothing(wizard);
    EXPECT_FALSE(pathExists(kScratchRoot + "\\cut"));
    DeleteFileA(image.c_str());
}

TEST(Install, ARecordThatDoesNotVerifyLeavesNoFileAndTheWorkingLinkAsItWas) {
    const Text working = kScratchRoot + "\\working\\VantelPA";
    const Text chosen = kScratchRoot + "\\unverified\\VantelPA";
    const Text productDir = VersionFolder(chosen);
    CleanState clean({kScratchRoot + "\\unverified", kScratchRoot + "\\working"});
    ASSERT_TRUE(clean.Made());
    {
        WizardSession first;
        ASSERT_TRUE(first.Open());
        ASSERT_TRUE(first.InstallTo(working));
        ASSERT_TRUE(first.Close());
    }
    const Registration before = Registration::Now();
    ASSERT_FALSE(before.link.empty());
    ASSERT_EQ(before.remembered, working);
    std::vector<ArchiveEntry> records = PayloadRecords();
    auto notes = std::find_if(records.begin(), records.end(), [](const ArchiveEntry& r) { return r.path == kNotesFile; });
    ASSERT_NE(notes, records.end());
    notes->md5 = Md5OfBytes(nullptr, 0) == notes->md5 ? Text(32, '0') : Md5OfBytes(nullptr, 0);
    const std::string image = InstallerCarrying("VantelPA-Setup-unverified.exe", WriteArchive(records));
    ASSERT_FALSE(image.empty());

    WizardSession wizard;
    ASSERT_TRUE(wizard.Open(image));
    EXPECT_TRUE(wizard.InstallTo(chosen));
    ExpectFailurePage(wizard, kDamagedHeadline, kDamagedStatus, "unverified-page3.png");
    EXPECT_TRUE(wizard.Close());
    EXPECT_TRUE(Registration::Now() == before);
    EXPECT_FALSE(pathExists(productDir + "\\" + kNotesFile));
    for (const ArchiveEntry& record : records) {
        if (record.path == kNotesFile) continue;
        EXPECT_EQ(md5OfFile(productDir + "\\" + record.path), record.md5) << record.path;
    }
    TextList files;  // nothing else, under any name
    collectFiles(productDir, files);
    EXPECT_EQ(files.size(), records.size() - 1);
    DeleteFileA(image.c_str());
}

TEST(Install, AProductFolderReachedThroughALinkGetsNothingAndTheFailurePageSaysSo) {
    const Text base = kScratchRoot + "\\linked";
    // The link at the product folder itself, and one level higher at the folder typed.
    const Text atProduct = base + "\\one\\Linked", atTyped = base + "\\two\\Linked";
    const struct {
        Text chosen, link;
        const char* screenshot;
    } cases[] = {{atProduct, VersionFolder(atProduct), "linked-page3.png"}, {atTyped, atTyped, "linked-typed-page3.png"}};
    // The folders go only once the links are gone (Wine removes none): before
    // the clean state is made and undone, a crashed run's links included.
    struct Unlinked {
        const decltype(cases)& all;
        ~Unlinked() {
            for (const auto& c : all) wine_drive::RemoveHostLink(Wide(c.link));
        }
    };
    { Unlinked before{cases}; }
    CleanState clean({base});
    Unlinked after{cases};
    ASSERT_TRUE(clean.Made());
    const Text outside = base + "\\outside";
    ASSERT_TRUE(EnsureDirectoryPath(outside));
    for (const auto& c : cases) {
        ASSERT_TRUE(EnsureDirectoryPath(fileFolderPart(c.link)));
        if (!wine_drive::PlantHostLink(Wide(c.link), Wide(outside))) GTEST_SKIP() << "no Wine host to plant a link from";
        WizardSession wizard;
        ASSERT_TRUE(wizard.Open());
        ASSERT_TRUE(wizard.Agree());
        ASSERT_TRUE(SetControlText(wizard.Control(ctl::编辑框安装路径), c.chosen));
        Click(wizard.Control(ctl::按钮开始安装));
        ASSERT_TRUE(wizard.WaitForPage(3, kInstallTimeoutMs)) << c.link;
        ExpectFailurePage(wizard, "路径经过链接", "安装路径经过链接：" + c.link + "，请选择其他文件夹", c.screenshot);
        ExpectCloseStartsNothing(wizard);
        EXPECT_EQ(SortedEntries(outside + "\\"), TextList{}) << c.link;
        EXPECT_FALSE(pathExists(DesktopLinkPath()));
        EXPECT_EQ(ReadUserRegistryText(kRegistryKey, kRegistryValue), Text());
    }
}
