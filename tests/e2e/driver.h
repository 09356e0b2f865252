#pragma once
// Win32 helpers that drive the real installer from another process: start
// it, find its window and controls, read their state (also where the
// system does not carry the data across processes) and take screenshots.
#include <windows.h>

#include <functional>
#include <string>

#include "system/text.h"

class InstallerProcess {
public:
    InstallerProcess() = default;
    InstallerProcess(const InstallerProcess&) = delete;
    InstallerProcess& operator=(const InstallerProcess&) = delete;
    // Ends the process if it still runs.
    ~InstallerProcess();

    bool Start(const std::string& exe, const std::string& arguments = "");
    // True when the process ended within the time.
    bool WaitForExit(DWORD timeoutMs);
    // STILL_ACTIVE while running.
    DWORD ExitCode() const;
    DWORD Id() const { return info_.dwProcessId; }
    HANDLE Handle() const { return info_.hProcess; }

private:
    PROCESS_INFORMATION info_{};
};

// Polls every 50 ms until the condition holds; false on timeout.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs);

// The visible top-level window of the process with this caption, or nullptr.
HWND FindTopWindow(DWORD processId, const Text& caption);
// A descendant with this control id, or nullptr.
HWND FindControlById(HWND root, int id);
// A descendant of this class (case-insensitive) and text, or nullptr.
HWND FindControlByText(HWND root, const std::string& className, const Text& text);

std::string ClassName(HWND hwnd);  // lowercase
Text ControlText(HWND hwnd);       // WM_GETTEXT, carried across processes
// The window's rectangle in its parent's client coordinates.
RECT RectInParent(HWND hwnd);
// A status bar part's text, read through memory in the owning process.
Text StatusBarText(HWND bar, int part);
int TabSelection(HWND tab);

// A PNG of the window as it is on the screen; creates the folder.
bool SaveScreenshot(HWND window, const std::string& folder, const std::string& name);
