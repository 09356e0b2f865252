#pragma once
// The handlers behind the wizard window's events and the install worker.
#include <windows.h>

#include "system/text.h"

class Shell;

// Created event: proposes the remembered or default directory, stops
// running copies of the product and starts the agree-button unlock.
void OnWindowCreated();
void OnAgreeClicked();
void OnChooseDirClicked();
void OnStartInstallClicked();
void OnFinishClicked();

// Thread routines: the 3 s agreement lock and the installation itself.
void UnlockAgreeButton();
void InstallSequence();

// The directory the product goes into: the chosen one plus
// "\vantelpa-<version>", or the chosen one itself when its last byte is "\".
Text ProductDirFor(const Text& chosenDir, const Text& version);
// The folder-dialog result as the path box shows it: the default when
// empty or not on a drive, "\VantelPA" appended unless the product word
// is already there in any letter case.
Text ChosenFolderToInstallDir(const Text& chosen, const Text& defaultDir);

// The finish page's start of an installed file: no parameters, no working
// folder, shown normally, as the desktop's user or not at all (see
// LaunchAsDesktopUser). Always null.
HANDLE LaunchQuietly(const Text& file, Shell& shell);

// The wait before the finish page, given how long the install took: up
// to the minimum install time, and never less than the final wait.
long long FinalWaitMs(long long elapsedMs);

// Timing of the wizard.
constexpr long long kAgreeUnlockDelayMs = 3000;
constexpr long long kMinimumInstallMs = 10000;
constexpr long long kMinimumFinalWaitMs = 100;
constexpr long long kNotesDelayMs = 1000;
