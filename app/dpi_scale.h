#pragma once
// The window table holds 96-dpi units. This is the one place that turns
// them into pixels at the window's DPI: positions, sizes, fonts, pictures.
#include <windows.h>

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

constexpr int kBaseDpi = 96;

// A length or coordinate of the table at the DPI, rounded to the nearest
// pixel; unchanged at 96 dpi.
int Scaled(int units, int dpi);

struct PixelRect {
    int left, top, width, height;
};
// Each value of a table rectangle scaled on its own, so rows of equal size
// stay equal.
PixelRect ScaledRect(int left, int top, int width, int height, int dpi);

// The DPI the window is drawn at: the window's own where the system knows
// it (Per-Monitor V2), otherwise the screen's.
int WindowDpi(HWND window);

// The window's outer size at the DPI. The table's outer size is taken at
// 96 dpi: its client area is scaled and the frame of this DPI added, since
// frames do not grow in step with the content.
SIZE ScaledOuterSize(int width96, int height96, DWORD style, DWORD exStyle, int dpi);
