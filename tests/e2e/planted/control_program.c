// The installer's imports and manifest without its code: it imports only
// what the installer may import (DLLs Windows maps from its KnownDLLs, and
// comctl32 side by side) and exits at once. A DLL planted beside it that
// still runs was loaded by Wine while binding those imports, before any
// program code: Wine has no KnownDLLs and resolves their dependencies by
// the ordinary search, the program's own folder first.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <oleauto.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <stdlib.h>

// Never called: each call makes its DLL an import.
void ImportedDlls(void) {
    RegCloseKey(NULL);        // advapi32
    InitCommonControls();     // comctl32
    DeleteDC(NULL);           // gdi32
    CoTaskMemFree(NULL);      // ole32
    SysFreeString(NULL);      // oleaut32
    ShellExecuteExW(NULL);    // shell32
    PathFindFileNameW(L"");   // shlwapi
    GetDesktopWindow();       // user32
    _wtoi(L"0");              // msvcrt
}

void WinMainCRTStartup(void) { ExitProcess(0); }
