#include "app/program.h"

#include <windows.h>

Text ProgramVersion;
Text ChosenInstallDir;

void StartProgram() {
    ProgramVersion = "2.2.06";
}

void ReleaseGlobals() {
    ProgramVersion.clear();
    ChosenInstallDir.clear();
}

void EndProgram(unsigned exitCode) { ExitProcess(exitCode); }

int ProgramMain() {
    StartProgram();
    ReleaseGlobals();
    return 0;
}
