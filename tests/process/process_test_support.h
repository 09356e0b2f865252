#pragma once
// Shared by the Windows process tests: the helper program and a window
// that records the messages it receives.
#include <windows.h>

#include <utility>
#include <vector>

#include "system/text.h"

// The folder of the running test program, without a final backslash.
Text TestProgramDirectory();
Text HelperPath();

// A started helper; the handle is closed on destruction (the process is
// terminated first if it still runs).
struct StartedProcess {
    PROCESS_INFORMATION info{};
    bool started = false;
    StartedProcess() = default;
    StartedProcess(const StartedProcess&) = delete;
    StartedProcess& operator=(const StartedProcess&) = delete;
    ~StartedProcess();
    DWORD id() const { return info.dwProcessId; }
    HANDLE handle() const { return info.hProcess; }
};
bool StartProgram(const Text& exe, const Text& mode, StartedProcess& process);

// A message-only window recording (message, time) of every WM_APP+n.
struct RecordingWindow {
    HWND hwnd = nullptr;
    std::vector<std::pair<UINT, long long>> received;
    RecordingWindow();
    ~RecordingWindow();
};
