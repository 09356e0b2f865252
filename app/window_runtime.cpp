#include "app/window_runtime.h"

#include <commctrl.h>

#include "app/gdiplus_include.h"
#include "system/system_library.h"

namespace {
ULONG_PTR gdiplusToken = 0;
}

bool InitWindowRuntime() {
    HoldSystemLibrary(L"msimg32.dll");  // themed drawing loads it late
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    if (gdiplusToken) return true;
    Gdiplus::GdiplusStartupInput input;
    return Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr) == Gdiplus::Ok;
}

void ShutdownWindowRuntime() {
    if (!gdiplusToken) return;
    Gdiplus::GdiplusShutdown(gdiplusToken);
    gdiplusToken = 0;
}

int RunMessageLoop(HWND window) {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        const bool ours = window && IsWindow(window) && (msg.hwnd == window || IsChild(window, msg.hwnd));
        // A key pressed in the window shows where the focus is, from then on.
        if (ours && (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) &&
            (SendMessageW(window, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS))
            SendMessageW(window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
        if (ours && IsDialogMessageW(window, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
