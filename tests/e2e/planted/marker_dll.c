// Planted beside the installer under a system DLL's name. Whatever loads
// it, it leaves "<its own path>.ran" and does nothing else. Built without
// the C runtime: it imports kernel32 alone, so it loads as any name it is
// planted under, msvcrt's included.
#include <windows.h>

BOOL WINAPI DllMainCRTStartup(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    WCHAR path[MAX_PATH + 8];
    DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return TRUE;
    lstrcpyW(path + length, L".ran");
    HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    return TRUE;
}
