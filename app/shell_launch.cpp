#include "app/shell_launch.h"

#include "system/wide_text.h"

namespace {

// SEE_MASK_NOCLOSEPROCESS | SEE_MASK_INVOKEIDLIST | SEE_MASK_FLAG_NO_UI
constexpr ULONG kLaunchMask = 0x44C;

class WindowsShell : public Shell {
public:
    bool Execute(SHELLEXECUTEINFOW& record) override { return ShellExecuteExW(&record) != FALSE; }
};

}  // namespace

Shell& SystemShell() {
    static WindowsShell shell;
    return shell;
}

HANDLE ShellLaunch(const Text& file, const Text& parameters, std::optional<int> showCommand, bool elevate,
                   const Text& directory, bool wait, HWND owner, LaunchRecord& record, Shell& shell) {
    record.verb = elevate ? L"runas" : L"Open";
    const bool named = WideFromText(TextFromBytes(file.data(), file.size()), record.file);
    record.parameters = Wide(TextFromBytes(parameters.data(), parameters.size()));
    record.directory = Wide(TextFromBytes(directory.data(), directory.size()));
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
