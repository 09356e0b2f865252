#include "app/shell_launch.h"

#include "app/desktop_shell.h"
#include "system/wide_text.h"

namespace {

// SEE_MASK_NOCLOSEPROCESS | SEE_MASK_INVOKEIDLIST | SEE_MASK_FLAG_NO_UI
constexpr ULONG kLaunchMask = 0x44C;

class WindowsShell : public Shell {
public:
    bool Execute(SHELLEXECUTEINFOW& record) override { return ShellExecuteExW(&record) != FALSE; }
    bool ExecuteOnDesktop(const DesktopStart& start) override { return StartOnDesktop(start); }
};

// A text as the system reads it: up to its first NUL.
Text UpToNul(const Text& text) { return TextFromBytes(text.data(), text.size()); }

}  // namespace

Shell& SystemShell() {
    static WindowsShell shell;
    return shell;
}

HANDLE ShellLaunch(const Text& file, const Text& parameters, std::optional<int> showCommand, bool elevate,
                   const Text& directory, bool wait, HWND owner, LaunchRecord& record, Shell& shell) {
    record.verb = elevate ? L"runas" : L"Open";
    const bool named = WideFromText(UpToNul(file), record.file);
    record.parameters = Wide(UpToNul(parameters));
    record.directory = Wide(UpToNul(directory));
    SHELLEXECUTEINFOW& info = record.info;
    info = SHELLEXECUTEINFOW{};
    info.cbSize = sizeof(info);
    info.fMask = kLaunchMask;
    info.hwnd = owner;
    info.lpVerb = record.verb.c_str();
    info.lpFile = record.file.c_str();
    info.lpParameters = record.parameters.c_str();
    info.lpDirectory = record.directory.c_str();
    info.nShow = showCommand.value_or(SW_SHOWNORMAL);
    info.hInstApp = nullptr;
    info.lpIDList = nullptr;
    if (!named) return nullptr;
    // Wine refuses the invoke-item-list flag when no item list is given
    // (Windows then uses the file); nothing started, so ask once without it.
    if (!shell.Execute(info) && !info.hProcess && !info.lpIDList) {
        info.fMask &= ~static_cast<ULONG>(SEE_MASK_INVOKEIDLIST);
        info.hInstApp = nullptr;
        shell.Execute(info);
    }
    if (wait && info.hProcess) MsgWaitForMultipleObjects(1, &info.hProcess, FALSE, INFINITE, 0xFF);
    return info.hProcess;
}

HANDLE LaunchAsDesktopUser(const Text& file, const Text& parameters, std::optional<int> showCommand,
                           const Text& directory, Shell& shell) {
    DesktopStart start{L"", Wide(UpToNul(parameters)), Wide(UpToNul(directory)), L"Open",
                       showCommand.value_or(SW_SHOWNORMAL)};
    if (!WideFromText(UpToNul(file), start.file)) return nullptr;  // as ShellLaunch: no file, no start
    // Not taken means not started: asking the system shell instead would
    // run it with this process's elevated token.
    shell.ExecuteOnDesktop(start);
    return nullptr;
}
