#include "app/program.h"

#include <windows.h>

#include <cstdlib>

#include "app/installer_window.h"
#include "app/single_instance.h"
#include "app/version.h"
#include "app/window_runtime.h"
#include "process/process_control.h"
#include "process/worker_threads.h"
#include "system/system_library.h"

Text ProgramVersion;
Text ChosenInstallDir;

bool StartProgram() {
    ProgramVersion = VANTEL_VERSION_TEXT;
    return Wizard().Load();
}

void ReleaseGlobals() {
    ProgramVersion.clear();
    ProgramVersion.shrink_to_fit();
    ChosenInstallDir.clear();
    ChosenInstallDir.shrink_to_fit();
    ReleaseThreadRegistry();
}

void EndProgram(unsigned exitCode) {
    Wizard().Destroy();
    ShutdownWindowRuntime();
    ExitProcess(exitCode);
}

int ProgramMain() {
    // The very first: the installer runs elevated from a download folder,
    // and no DLL dropped there may be loaded by anything that follows.
    RestrictDllSearch();
    // Where the system has it; start-up goes on without it.
    EnforceRedirectionTrust();
    // Before anything else, so a second start stops no running copy.
    if (!ClaimSingleInstance()) return 0;
    if (!InitWindowRuntime()) return 1;
    StartThreadRegistry();  // before any other thread exists
    std::atexit(ReleaseGlobals);
    if (!StartProgram()) return 1;
    RunMessageLoop(Wizard().NativeHandle());
    // The install worker may still be writing files. The process ends here,
    // as the finish page ends it, so neither the exit routines nor the static
    // destructors (the wizard, the MD5 provider) tear down what it uses.
    ExitSelf(EndProgram);
}
