#pragma once
// Opens a program or document through the Windows shell.
#include <windows.h>

#include "system/text.h"

// The shell's execute record, filled by ShellLaunch and owned by the caller.
using LaunchRecord = SHELLEXECUTEINFOA;

// Verb "runas" when elevate, otherwise "Open"; showCommand 0 means
// SW_SHOWNORMAL. With wait, blocks until the process ends or a message
// arrives for the calling thread. Returns the record's process handle
// (not closed here; null when nothing was started).
HANDLE ShellLaunch(const Text& file, const Text& parameters, int showCommand, bool elevate, const Text& directory,
                   bool wait, HWND owner, LaunchRecord& record);
