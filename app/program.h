#pragma once
// Process-wide state and the program's entry and exit.
#include "system/text.h"

extern Text ProgramVersion;
extern Text ChosenInstallDir;

int ProgramMain();
void StartProgram();
void ReleaseGlobals();
[[noreturn]] void EndProgram(unsigned exitCode);
