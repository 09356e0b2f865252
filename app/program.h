#pragma once
// Process-wide state and the program's entry and exit.
#include "system/text.h"

extern Text ProgramVersion;
extern Text ChosenInstallDir;

// The entry: shows the wizard and runs its message loop. When the loop ends
// the process ends with 0 at once, without the exit routines; 1 is
// returned when the window cannot be shown.
int ProgramMain();
// Sets the version and loads the wizard window; false when it cannot.
bool StartProgram();
// Registered to run at exit: releases the globals (only a start-up that
// failed gets there).
void ReleaseGlobals();
// Cleans up the windows and the window runtime, then exits the process.
[[noreturn]] void EndProgram(unsigned exitCode);
