#include "app/single_instance.h"

#include <windows.h>

#include "app/installer_window.h"

namespace {

// Per session: installers of different users do not meet.
constexpr wchar_t kMutexName[] = L"Local\\VantelPA-Setup-one-wizard";
// The first wizard may not have created its window yet.
constexpr DWORD kWindowWaitMs = 5000;
constexpr DWORD kPollMs = 50;

void BringForward(HWND window) {
    if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
}

}  // namespace

bool ClaimSingleInstance() {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
    const DWORD error = GetLastError();
    // Without a mutex there is no guard to be had: run as before.
    if (!mutex || error != ERROR_ALREADY_EXISTS) return true;
    CloseHandle(mutex);
    for (DWORD waited = 0; waited < kWindowWaitMs; waited += kPollMs) {
        if (HWND window = FindWindowA(kInstallerWindowClass, nullptr)) {
            BringForward(window);
            break;
        }
        Sleep(kPollMs);
    }
    return false;
}
