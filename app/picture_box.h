#pragma once
// The picture-box control: shows a PNG or an animated GIF decoded by GDI+
// from encoded bytes, drawn at the top left or scaled to the box. Above
// 96 dpi it draws a picture of twice the size when it has one, scaled down
// to the size the table's picture takes at that DPI, so nothing is
// stretched up and blurred.
#include <windows.h>

#include "system/text.h"

constexpr const wchar_t* kPictureBoxClass = L"VantelPicBox";

struct PictureBoxInit {
    const ByteBuffer* image;  // encoded bytes; copied at creation
    const ByteBuffer* large;  // the same picture at twice the size, or empty
    bool scaled;
    COLORREF background;
    int dpi;
};

// Registers the window class once per process; false on failure.
bool RegisterPictureBoxClass();

// Queries answered by the control (for tests and diagnostics).
constexpr UINT kPicGetFrameCount = WM_APP + 0x40;    // frames in the image, 0 when none decoded
constexpr UINT kPicGetCurrentFrame = WM_APP + 0x41;  // index of the frame shown
constexpr UINT kPicGetImageSize = WM_APP + 0x42;     // MAKELRESULT(width, height) of the picture drawn from
constexpr UINT kPicGetDrawnSize = WM_APP + 0x43;     // MAKELRESULT(width, height) it is drawn at
// wParam: the DPI to draw for.
constexpr UINT kPicSetDpi = WM_APP + 0x44;
