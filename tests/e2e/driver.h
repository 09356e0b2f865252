#pragma once
// Win32 helpers that drive the real installer from another process: start
// it, find its window and controls, read their state (also where the
// system does not carry the data across processes) and take screenshots.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "system/text.h"

class InstallerProcess {
public:
    InstallerProcess() = default;
    InstallerProcess(const InstallerProcess&) = delete;
    InstallerProcess& operator=(const InstallerProcess&) = delete;
    // Ends the process if it still runs.
    ~InstallerProcess();

    // `directory`: the current folder it starts in (empty: this process's).
    bool Start(const std::string& exe, const std::string& arguments = "", const Text& directory = "");
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
// The visible top-level window of the process that matches, or nullptr.
HWND FindTopWindowWhere(DWORD processId, const std::function<bool(HWND)>& match);
// A descendant with this control id, or nullptr.
HWND FindControlById(HWND root, int id);
// The first descendant of this class (case-insensitive), or nullptr.
HWND FindDescendantOfClass(HWND root, const std::string& className);
// A descendant of this class (case-insensitive) and text, or nullptr.
HWND FindControlByText(HWND root, const std::string& className, const Text& text);

std::string ClassName(HWND hwnd);  // lowercase
// WM_GETTEXT, carried across processes; as code page 936 spells it.
Text ControlText(HWND hwnd);
std::wstring ControlWideText(HWND hwnd);
// The window's rectangle in its parent's client coordinates.
RECT RectInParent(HWND hwnd);
// A status bar part's text, read through memory in the owning process.
Text StatusBarText(HWND bar, int part);
int TabSelection(HWND tab);

// Input as a user gives it. WM_SETTEXT carries its text across processes.
bool SetControlText(HWND control, const Text& text);
bool SetControlWideText(HWND control, const std::wstring& text);
// Keyboard input as a keyboard gives it (SendInput): it goes to the window
// that has the focus in the foreground window.
bool BringToForeground(HWND window);
void PressKey(WORD virtualKey, bool shift = false, bool alt = false);
void TypeText(const std::wstring& text);
// The control that has the keyboard focus in the window's thread, or nullptr.
HWND FocusOf(HWND window);
// The control draws its focus cue (its UI state does not hide it).
bool FocusCueShown(HWND control);

// Returns when the click's handler has returned.
void Click(HWND button);
// Returns at once: for clicks whose handler opens a modal dialog or ends the process.
void PostClick(HWND button);
bool IsChecked(HWND checkBox);
void SetChecked(HWND checkBox, bool checked);
// Writes the text into the process that owns the window and sends the
// message with its address there as lParam; the result, or 0.
LRESULT SendWithRemoteText(HWND window, UINT message, WPARAM wParam, const Text& text);

// Tree views of another process: an item's text, and choosing an item
// level by level as a user does, expanding each level and taking the child
// whose text contains the part (e.g. {"(C:)", "Program Files"}). The first
// part is looked for among the root's children, then one level below them.
// False when a level is not found.
Text TreeItemText(HWND tree, HTREEITEM item);
bool SelectTreeItemPath(HWND tree, const std::vector<Text>& parts);

// HKEY_CURRENT_USER string values; `exists` tells an empty value from none.
Text ReadUserRegistryText(const Text& key, const Text& value, bool* exists = nullptr);
void DeleteUserRegistryValue(const Text& key, const Text& value);

// What a shell link holds, as the shell-link interfaces report it.
struct ShortcutInfo {
    bool loaded = false;
    Text target, workingDirectory, arguments, iconPath, description;
    int iconIndex = -1;
    WORD hotKey = 0;
    int showCommand = 0;
};
ShortcutInfo ReadShortcut(const Text& linkPath);

// Processes of this image name (ASCII letter case ignored).
std::vector<DWORD> ProcessIdsNamed(const Text& imageName);
// Ends each one by id and waits for it to go.
void EndProcesses(const std::vector<DWORD>& ids);
// The full path of the process's program, empty when it cannot be read.
Text ProcessImagePath(DWORD processId);
// The process's start time in 100 ns units, 0 when it cannot be read.
std::uint64_t ProcessStartTime(DWORD processId);
// The id of the process that started it, 0 when it is not listed.
DWORD ParentProcessId(DWORD processId);

// Files, named through code page 936 and the wide calls whatever the
// system's code page: attribute word (-1 when missing), modification time
// (0 when missing).
std::int32_t FileAttributesOf(const Text& path);
bool Exists(const Text& path);
std::uint64_t ModificationTime(const Text& path);
bool SetModificationTime(const Text& path, std::uint64_t time);
// Removes a folder with everything below it, read-only files too; true
// when nothing is left.
bool RemoveTree(const Text& folder);
// True when nothing is left at the path.
bool DeletePath(const Text& path);
bool WriteFileBytes(const Text& path, const std::string& bytes);
// The file's MD5 digest; empty when it cannot be read.
Text FileMd5(const Text& path);
// The names directly inside the folder, sorted.
TextList FolderNames(const Text& folder);

// A drive letter such as "X:" that leads to the folder, through Wine's
// mount manager (false elsewhere); removed again by UnmapDrive.
bool MapDrive(const Text& drive, const Text& folder);
void UnmapDrive(const Text& drive, const Text& folder);
// A free drive letter (X: down to M:) that leads to the folder for as long
// as it lives; Drive() is empty when none could be mapped.
class MappedDrive {
public:
    explicit MappedDrive(const Text& folder);
    ~MappedDrive();
    MappedDrive(const MappedDrive&) = delete;
    MappedDrive& operator=(const MappedDrive&) = delete;
    const Text& Drive() const { return drive_; }

private:
    Text folder_;
    Text drive_;
};

// How many pixels of the window's area on the screen have exactly this colour.
int ScreenPixelsOfColour(HWND window, COLORREF colour);
// A PNG of the window as it is on the screen; creates the folder.
bool SaveScreenshot(HWND window, const std::string& folder, const std::string& name);
