#pragma once
// Process-wide state and the program's entry and exit.
#include "system/text.h"

extern Text ProgramVersion;
extern Text ChosenInstallDir;

// The entry: shows the wizard and runs its message loop; 0 when it ends.
int ProgramMain();
// Sets the version and loads the wizard window; false when it cannot.
bool StartProgram();
// Runs when the program ends: releases the globals.
void ReleaseGlobals();
// Cleans up the windows and the window runtime, then exits the process.
[[noreturn]] void EndProgram(unsigned exitCode);
