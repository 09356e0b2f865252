#include "app/shell_launch.h"

#include <shellapi.h>

namespace {
// SEE_MASK_NOCLOSEPROCESS | SEE_MASK_INVOKEIDLIST | SEE_MASK_FLAG_NO_UI
constexpr ULONG kLaunchMask = 0x44C;
}  // namespace

HANDLE ShellLaunch(const Text& file, const Text& parameters, int showCommand, bool elevate, const Text& directory,
                   bool wait, HWND owner, LaunchRecord& record) {
    record = LaunchRecord{};
    record.cbSize = sizeof(record);
    record.fMask = kLaunchMask;
    record.hwnd = owner;
    record.lpVerb = elevate ? "runas" : "Open";
    record.lpFile = file.c_str();
    record.lpParameters = parameters.c_str();
    record.lpDirectory = directory.c_str();
    record.nShow = showCommand != 0 ? showCommand : SW_SHOWNORMAL;
    record.hInstApp = nullptr;
    record.lpIDList = nullptr;
    // Wine refuses the invoke-item-list flag when no item list is given
    // (Windows then uses the file); nothing started, so ask once without it.
    if (!ShellExecuteExA(&record) && !record.hProcess && !record.lpIDList) {
        record.fMask &= ~static_cast<ULONG>(SEE_MASK_INVOKEIDLIST);
        record.hInstApp = nullptr;
        ShellExecuteExA(&record);
    }
    if (wait && record.hProcess)
        MsgWaitForMultipleObjects(1, &record.hProcess, FALSE, INFINITE, 0xFF);
    // The texts belong to this call; the record keeps only the handle.
    record.lpVerb = record.lpFile = record.lpParameters = record.lpDirectory = nullptr;
    return record.hProcess;
}
