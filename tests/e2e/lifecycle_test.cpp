// The installer's life around the install: running copies of the product
// at start, closing the window mid-install, and what the finish click starts.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/window_layout.h"
#include "process/directory.h"
#include "tests/e2e/wizard_session.h"

namespace {

const Text kDemoCaptionNoArguments = "VantelPA demo (no arguments)";

const PayloadFile* ProductProgram() {
    for (const PayloadFile& file : PayloadFiles())
        if (file.path == kProductExe) return &file;
    return nullptr;
}

}  // namespace

TEST(Finish, BothBoxesStartTheProductThenTheNotesAndTheInstallerExits) {
    const Text chosen = kScratchRoot + "\\finish\\VantelPA";
    const Text productDir = VersionFolder(chosen);
    CleanState clean({kScratchRoot + "\\finish"});
    ASSERT_TRUE(clean.Made());
    TextFileAssociation association;
    EndProcesses(ProcessIdsNamed("notepad.exe"));

    WizardSession wizard;
    ASSERT_TRUE(wizard.Open());
    ASSERT_TRUE(wizard.InstallTo(chosen));
    PostClick(wizard.Control(ctl::按钮完成安装));
    ASSERT_TRUE(wizard.Process().WaitForExit(20000));
    EXPECT_EQ(wizard.Process().ExitCode(), 0u);

    std::vector<DWORD> product, notes;
    EXPECT_TRUE(WaitFor([&] { return !(product = ProcessIdsNamed(kProductExe)).empty(); }, 10000));
    EXPECT_TRUE(WaitFor([&] { return !(notes = ProcessIdsNamed("notepad.exe")).empty(); }, 10000));
    if (product.size() == 1) {
        EXPECT_EQ(LowerAscii(ProcessImagePath(product[0])), LowerAscii(productDir + "\\" + kProductExe));
        EXPECT_TRUE(WaitFor([&] { return FindTopWindow(product[0], kDemoCaptionNoArguments) != nullptr; }, 10000));
    }
    if (product.size() == 1 && notes.size() == 1) {
        HWND editor = nullptr;
        EXPECT_TRUE(WaitFor(
            [&] {
                editor = FindTopWindowWhere(notes[0], [](HWND w) {
                    return ControlText(w).find("升级说明与必看") != Text::npos;
                });
                return editor != nullptr;
            },
            10000));
        // About one second between the two launches.
        long long gapMs =
            (static_cast<long long>(ProcessStartTime(notes[0])) - static_cast<long long>(ProcessStartTime(product[0]))) /
            10000;
        EXPECT_GE(gapMs, 900);
        EXPECT_LE(gapMs, 8000);
    }
    // Both are started by the desktop's shell, never by the elevated
    // installer. Wine gives every process one token, so the parent is what
    // shows of the desktop user's token here.
    const std::vector<DWORD> shells = ProcessIdsNamed("explorer.exe");
    for (const std::vector<DWORD>* started : {&product, &notes}) {
        for (DWORD id : *started) {
            const DWORD parent = ParentProcessId(id);
            EXPECT_NE(std::find(shells.begin(), shells.end(), parent), shells.end())
                << "started by " << parent << ", the installer was " << wizard.Process().Id();
        }
    }
    EXPECT_EQ(product.size(), 1u);
    EXPECT_EQ(notes.size(), 1u);
    EndProcesses(product);
    EndProcesses(notes);
}

TEST(Finish, NeitherBoxJustExits) {
    const Text chosen = kScratchRoot + "\\finish-none\\VantelPA";
    CleanState clean({kScratchRoot + "\\finish-none"});
    ASSERT_TRUE(clean.Made());
    TextFileAssociation association;
    EndProcesses(ProcessIdsNamed("notepad.exe"));

    WizardSession wizard;
    ASSERT_TRUE(wizard.Open());
    ASSERT_TRUE(wizard.InstallTo(chosen));
    SetChecked(wizard.Control(ctl::选择框运行程序), false);
    SetChecked(wizard.Control(ctl::选择框显示升级说明), false);
    PostClick(wizard.Control(ctl::按钮完成安装));
    ASSERT_TRUE(wizard.Process().WaitForExit(20000));
    EXPECT_EQ(wizard.Process().ExitCode(), 0u);
    Sleep(1500);  // a launch would have shown by now
    EXPECT_TRUE(ProcessIdsNamed(kProductExe).empty());
    EXPECT_TRUE(ProcessIdsNamed("notepad.exe").empty());
}

TEST(RunningCopy, IsEndedBeforeTheAgreeButtonUnlocks) {
    const Text folder = kScratchRoot + "\\running";
    CleanState clean({folder});
    ASSERT_TRUE(clean.Made());
    const PayloadFile* program = ProductProgram();
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(EnsureDirectoryPath(folder));
    ASSERT_TRUE(WriteFileBytes(folder + "\\" + kProductExe, Text(program->data.begin(), program->data.end())));

    InstallerProcess running;
    ASSERT_TRUE(running.Start(folder + "\\" + kProductExe, "-ver=2.2.05"));
    ASSERT_TRUE(WaitFor([&] { return FindTopWindow(running.Id(), "VantelPA demo -ver=2.2.05") != nullptr; }, 20000));

    WizardSession wizard;
    ASSERT_TRUE(wizard.Open());
    HWND agree = wizard.Control(ctl::按钮同意条款);
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(agree) != 0; }, kUnlockTimeoutMs));
    EXPECT_TRUE(running.WaitForExit(0));
    EXPECT_TRUE(ProcessIdsNamed(kProductExe).empty());
    EXPECT_TRUE(wizard.Close());
}

TEST(RunningCopy, AnInstallerNamedLikeTheProductEndsItselfAtWindowCreation) {
    const Text folder = kScratchRoot + "\\self";
    CleanState clean({folder});
    ASSERT_TRUE(clean.Made());
    ASSERT_TRUE(EnsureDirectoryPath(folder));
    const Text renamed = folder + "\\" + kProductExe;
    ASSERT_TRUE(CopyFileA(INSTALLER_EXE, renamed.c_str(), FALSE));

    InstallerProcess installer;
    ASSERT_TRUE(installer.Start(renamed));
    // The window is created (the stop runs in its created event) but the
    // agreement never unlocks: the process is gone long before 3 s.
    ASSERT_TRUE(installer.WaitForExit(kWindowTimeoutMs));
    EXPECT_EQ(installer.ExitCode(), 0u) << std::hex << installer.ExitCode();
}

TEST(Closing, TheWindowDuringTheInstallEndsTheProcessAtOnce) {
    const Text chosen = kScratchRoot + "\\closing\\VantelPA";
    CleanState clean({kScratchRoot + "\\closing"});
    ASSERT_TRUE(clean.Made());

    WizardSession wizard;
    ASSERT_TRUE(wizard.Open());
    ASSERT_TRUE(wizard.Agree());
    // The start handler has returned, so the worker is extracting (hashing
    // and writing files) when the window closes.
    ASSERT_TRUE(wizard.StartInstall(chosen));
    const DWORD closedAt = GetTickCount();
    ASSERT_TRUE(wizard.Close(10000));
    // Long before the install's ten seconds are up.
    EXPECT_LT(GetTickCount() - closedAt, 3000u);
    // An exit that tore down what the worker uses ends with a crash status.
    EXPECT_EQ(wizard.Process().ExitCode(), 0u) << std::hex << wizard.Process().ExitCode();
}

TEST(SingleInstance, ASecondStartBringsTheFirstWizardForwardAndEnds) {
    WizardSession first;
    ASSERT_TRUE(first.Open());
    // Something else has the foreground when the second start comes.
    ShowWindow(first.Window(), SW_MINIMIZE);
    ASSERT_TRUE(WaitFor([&] { return IsIconic(first.Window()) != FALSE; }, 5000));

    InstallerProcess second;
    ASSERT_TRUE(second.Start(INSTALLER_EXE));
    ASSERT_TRUE(second.WaitForExit(kWindowTimeoutMs));
    EXPECT_EQ(second.ExitCode(), 0u);
    EXPECT_EQ(FindTopWindow(second.Id(), kWizardCaption), nullptr);

    EXPECT_EQ(first.Process().ExitCode(), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_TRUE(WaitFor([&] { return !IsIconic(first.Window()) && GetForegroundWindow() == first.Window(); }, 5000));
    // The first goes on as if nothing happened.
    EXPECT_TRUE(first.Agree());
    EXPECT_TRUE(first.Close());
}
