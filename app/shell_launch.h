#pragma once
// Opens a program or document through the Windows shell.
#include <windows.h>
#include <shellapi.h>

#include <optional>
#include <string>

#include "system/text.h"

// The caller's launch record: the shell's execute record and the texts its
// pointers lead to, so it stays filled and valid after the call. Not
// copyable, as a copy's pointers would lead into the original.
struct LaunchRecord {
    LaunchRecord() = default;
    LaunchRecord(const LaunchRecord&) = delete;
    LaunchRecord& operator=(const LaunchRecord&) = delete;

    SHELLEXECUTEINFOW info{};
    std::wstring verb, file, parameters, directory;
};

// A start handed to the desktop's shell, in the texts its automation
// object takes.
struct DesktopStart {
    std::wstring file, parameters, directory, verb;
    int show;
};

// Where a start goes: the system shell, or a test's stand-in.
class Shell {
public:
    virtual ~Shell() = default;
    virtual bool Execute(SHELLEXECUTEINFOW& record) = 0;
    // The shell that shows the desktop starts it, so it runs with the
    // desktop user's own token, not this process's. False when no such
    // shell took it.
    virtual bool ExecuteOnDesktop(const DesktopStart& start) = 0;
};
Shell& SystemShell();

// Verb "runas" when elevate, otherwise "Open"; no show command means
// SW_SHOWNORMAL. With wait, blocks until the process ends or a message
// arrives for the calling thread. Returns the record's process handle
// (not closed here; null when nothing was started). The texts reach the
// shell in UTF-16 from code page 936; a file name that code page does not
// define starts nothing.
HANDLE ShellLaunch(const Text& file, const Text& parameters, std::optional<int> showCommand, bool elevate,
                   const Text& directory, bool wait, HWND owner, LaunchRecord& record, Shell& shell = SystemShell());

// Starts file through the desktop's shell ("Open", no show command means
// SW_SHOWNORMAL), so an elevated caller does not pass its token on. Nothing
// else ever starts it: where no shell shows the desktop, or the one there
// does not take it in time, nothing runs. Always null, as the desktop's
// shell keeps the process it starts.
HANDLE LaunchAsDesktopUser(const Text& file, const Text& parameters, std::optional<int> showCommand,
                           const Text& directory, Shell& shell = SystemShell());
