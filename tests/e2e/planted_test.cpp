// The installer runs elevated from a download folder, where a web page may
// have dropped any DLL. A marker DLL (planted/marker_dll.c) is planted
// beside a copy of the installer under each name the installer loads; a
// marker that shows is code that ran from the download folder.
//
// Wine takes its builtin DLL over a planted copy, which would hide every
// fault; Windows loads what its search finds first. So the planted names
// are made native-first. Wine has no KnownDLLs either: binding the
// installer's protected imports loads their dependencies from the
// program's folder before any program code runs. A control program with
// the installer's imports and manifest but no code shows which names those
// are; they are excluded, and the test says so.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "app/window_layout.h"
#include "process/directory.h"
#include "tests/e2e/wizard_session.h"

namespace {

// Every DLL a clean run of the installer loaded through the finish page
// (WINEDEBUG=+loaddll, Wine 8, x86_64), then late loads seen on Windows.
// ntdll is mapped before anything and cannot be planted.
const char* const kLoadedNames[] = {
    "kernelbase.dll", "kernel32.dll", "msvcrt.dll",   "ucrtbase.dll", "sechost.dll", "advapi32.dll",
    "zlib1.dll",      "version.dll",  "win32u.dll",   "user32.dll",   "gdi32.dll",   "imm32.dll",
    "comctl32.dll",   "rpcrt4.dll",   "combase.dll",  "ole32.dll",    "shcore.dll",  "shlwapi.dll",
    "shell32.dll",    "winex11.drv",  "uxtheme.dll",  "oleaut32.dll", "gdiplus.dll", "propsys.dll",
    "windowscodecs.dll", "msimg32.dll", "bcrypt.dll",
    "dwmapi.dll",     "cryptbase.dll", "winmm.dll",
};

const Text kDownloads = kScratchRoot + "\\Downloads";

// Wine names a DLL's override without ".dll", other files with their extension.
Text OverrideName(const Text& file) {
    const bool dll = file.size() > 4 && LowerAscii(file.substr(file.size() - 4)) == ".dll";
    return dll ? file.substr(0, file.size() - 4) : file;
}

// The copies in the download folder, named as a browser names a second
// download; Wine's per-program settings go by these names.
const Text kInstallerCopy = "VantelPA-Setup (1).exe";
const Text kControlCopy = "planted-control.exe";

Text AppDefaultsKey(const Text& program) { return "Software\\Wine\\AppDefaults\\" + program; }

void ForgetOverrides() {
    for (const Text& program : {kInstallerCopy, kControlCopy})
        RegDeleteTreeA(HKEY_CURRENT_USER, AppDefaultsKey(program).c_str());
}

struct KeyClose {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using KeyOwner = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyClose>;

// While it lives, the copies load these names native-first, as Windows
// loads whatever its search finds first; Wine would take its builtin.
class NativeFirst {
public:
    explicit NativeFirst(const std::vector<Text>& names) {
        static const char kOrder[] = "native,builtin";
        ForgetOverrides();
        for (const Text& program : {kInstallerCopy, kControlCopy}) {
            HKEY created = nullptr;
            const Text path = AppDefaultsKey(program) + "\\DllOverrides";
            if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &created,
                                nullptr) != ERROR_SUCCESS) {
                ADD_FAILURE() << "cannot create " << path;
                continue;
            }
            KeyOwner key(created);
            for (const Text& name : names)
                RegSetValueExA(key.get(), OverrideName(name).c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(kOrder), sizeof kOrder);
        }
    }
    ~NativeFirst() { ForgetOverrides(); }
    NativeFirst(const NativeFirst&) = delete;
    NativeFirst& operator=(const NativeFirst&) = delete;
};

// The download folder: a copy of the installer, the control and whatever
// is planted. Gone again with the object.
class DownloadFolder {
public:
    DownloadFolder()
        : ready_(RemoveTree(kDownloads) && EnsureDirectoryPath(kDownloads) && Copy(INSTALLER_EXE, Installer()) &&
                 Copy(ForwardToBackslashes(PLANTED_CONTROL_EXE), Control())) {}
    ~DownloadFolder() { RemoveTree(kDownloads); }
    DownloadFolder(const DownloadFolder&) = delete;
    DownloadFolder& operator=(const DownloadFolder&) = delete;

    bool Ready() const { return ready_; }
    Text Installer() const { return kDownloads + "\\" + kInstallerCopy; }
    Text Control() const { return kDownloads + "\\" + kControlCopy; }
    bool Plant(const Text& name) { return Copy(ForwardToBackslashes(PLANTED_MARKER_DLL), kDownloads + "\\" + name); }
    bool Remove(const Text& name) { return DeletePath(kDownloads + "\\" + name) && DeletePath(Marker(name)); }
    bool Ran(const Text& name) const { return Exists(Marker(name)); }

private:
    static Text Marker(const Text& name) { return kDownloads + "\\" + name + ".ran"; }
    static bool Copy(const Text& from, const Text& to) { return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0; }
    bool ready_;
};

// What the control did with the name planted: its marker shows when Wine
// loaded the name for the imports alone; it fails where Wine cannot start
// any program with that name native-first (its own kernel32, say).
enum class Control { kRanIt, kFailed, kLeftIt };

Control RunControl(DownloadFolder& folder, const Text& name) {
    InstallerProcess control;
    if (!control.Start(folder.Control(), "", kDownloads)) return Control::kFailed;
    const bool ended = control.WaitForExit(kWindowTimeoutMs);
    if (folder.Ran(name)) return Control::kRanIt;
    return ended && control.ExitCode() == 0 ? Control::kLeftIt : Control::kFailed;
}

// The installer, with just this name planted, until its window shows and
// a second longer, for what its start and window creation load.
bool InstallerShowsItsWindow(DownloadFolder& folder) {
    WizardSession wizard;
    if (!wizard.Open(folder.Installer(), kDownloads)) return false;
    Sleep(1000);
    return wizard.Close();
}

// Every step that loads something: agree, the folder dialog opened and
// cancelled, the install, and the finish with both boxes, which starts the
// product and the notes.
void RunTheWholeFlow(DownloadFolder& folder) {
    const Text root = kScratchRoot + "\\planted";
    CleanState clean({root});
    ASSERT_TRUE(clean.Made());
    TextFileAssociation association;
    EndProcesses(ProcessIdsNamed("notepad.exe"));

    WizardSession wizard;
    ASSERT_TRUE(wizard.Open(folder.Installer(), kDownloads));
    ASSERT_TRUE(wizard.Agree());
    HWND dialog = wizard.OpenFolderDialog();
    ASSERT_NE(dialog, nullptr);
    PostClick(GetDlgItem(dialog, IDCANCEL));
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); }, 10000));
    ASSERT_TRUE(wizard.StartInstall(root + "\\VantelPA"));
    ASSERT_TRUE(wizard.WaitForPage(3, kInstallTimeoutMs));
    wizard.ExpectPage(3, "完成", "程序已安装完成");
    ASSERT_TRUE(IsChecked(wizard.Control(ctl::选择框显示升级说明)));
    ASSERT_TRUE(IsChecked(wizard.Control(ctl::选择框运行程序)));
    PostClick(wizard.Control(ctl::按钮完成安装));
    ASSERT_TRUE(wizard.Process().WaitForExit(20000));
    std::vector<DWORD> product, notes;
    EXPECT_TRUE(WaitFor([&] { return !(product = ProcessIdsNamed(kProductExe)).empty(); }, 10000));
    EXPECT_TRUE(WaitFor([&] { return !(notes = ProcessIdsNamed("notepad.exe")).empty(); }, 10000));
    EndProcesses(product);
    EndProcesses(notes);
}

}  // namespace

TEST(PlantedDll, NoDllBesideTheInstallerRuns) {
    DownloadFolder folder;
    ASSERT_TRUE(folder.Ready());
    std::vector<Text> planted;
    for (const Text name : kLoadedNames) {
        ASSERT_TRUE(folder.Plant(name)) << name;
        NativeFirst nativeFirst({name});
        const Control control = RunControl(folder, name);
        if (control == Control::kRanIt) {
            std::printf("planted %s: the control ran it too (Wine loaded it for the imports, before any program code), "
                        "excluded\n", name.c_str());
        } else if (control == Control::kFailed) {
            std::printf("planted %s: the control failed to start with it native-first (Wine needs its own), "
                        "excluded\n", name.c_str());
        } else {
            const bool shown = InstallerShowsItsWindow(folder);
            EXPECT_TRUE(shown) << name;
            const bool ran = folder.Ran(name);
            EXPECT_FALSE(ran) << name;
            std::printf("planted %s: %s\n", name.c_str(),
                        ran ? "LOADED by the installer" : shown ? "not loaded" : "the installer showed no window");
            planted.push_back(name);
        }
        // A program that crashed on the planted copy is held by Wine's crash
        // debugger, and the copy with it, until the debugger ends.
        ASSERT_TRUE(WaitFor(
            [&] {
                EndProcesses(ProcessIdsNamed("winedbg.exe"));
                return folder.Remove(name);
            },
            kWindowTimeoutMs))
            << name;
    }

    for (const Text& name : planted) ASSERT_TRUE(folder.Plant(name)) << name;
    {
        NativeFirst nativeFirst(planted);
        RunTheWholeFlow(folder);
    }
    Text loaded;
    for (const Text& name : planted)
        if (folder.Ran(name)) loaded += " " + name;
    EXPECT_EQ(loaded, "") << "loaded in the whole flow";
    std::printf("planted all %zu names through the whole flow: %s\n", planted.size(),
                loaded.empty() ? "none loaded" : ("LOADED" + loaded).c_str());
    std::fflush(stdout);
}
