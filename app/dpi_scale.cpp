#include "app/dpi_scale.h"

namespace {

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);

// Windows 10 1607 and later; older systems have one DPI for everything.
template <typename Fn>
Fn User32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<Fn>(GetProcAddress(user32, name)) : nullptr;
}

SIZE FrameSize(DWORD style, DWORD exStyle, int dpi) {
    static const auto adjustForDpi = User32Function<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
    RECT rect{0, 0, 0, 0};
    if (!adjustForDpi || !adjustForDpi(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi)))
        AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

}  // namespace

int Scaled(int units, int dpi) { return dpi == kBaseDpi ? units : MulDiv(units, dpi, kBaseDpi); }

PixelRect ScaledRect(int left, int top, int width, int height, int dpi) {
    return {Scaled(left, dpi), Scaled(top, dpi), Scaled(width, dpi), Scaled(height, dpi)};
}

int WindowDpi(HWND window) {
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpiForWindow && window) {
        UINT dpi = getDpiForWindow(window);
        if (dpi > 0) return static_cast<int>(dpi);
    }
    HDC screen = GetDC(nullptr);
    int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : kBaseDpi;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kBaseDpi;
}

SIZE ScaledOuterSize(int width96, int height96, DWORD style, DWORD exStyle, int dpi) {
    if (dpi == kBaseDpi) return {width96, height96};
    const SIZE frame96 = FrameSize(style, exStyle, kBaseDpi);
    const SIZE frame = FrameSize(style, exStyle, dpi);
    return {Scaled(width96 - frame96.cx, dpi) + frame.cx, Scaled(height96 - frame96.cy, dpi) + frame.cy};
}
