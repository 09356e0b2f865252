#pragma once
// The window framework's process-wide services: common controls, GDI+ and
// the message loop.
#include <windows.h>

// Idempotent; false when a service could not start.
bool InitWindowRuntime();
// Ends GDI+; every picture must be gone by then.
void ShutdownWindowRuntime();
// Dispatches messages (with dialog keyboard navigation for the window)
// until WM_QUIT; returns its exit code.
int RunMessageLoop(HWND window);
