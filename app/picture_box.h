#pragma once
// The picture-box control: shows a PNG or an animated GIF decoded by GDI+
// from encoded bytes, drawn at the top left or scaled to the box.
#include <windows.h>

#include "system/text.h"

constexpr const wchar_t* kPictureBoxClass = L"VantelPicBox";

struct PictureBoxInit {
    const ByteBuffer* image;  // encoded bytes; copied at creation
    bool scaled;
    COLORREF background;
};

// Registers the window class once per process; false on failure.
bool RegisterPictureBoxClass();

// Queries answered by the control (for tests and diagnostics).
constexpr UINT kPicGetFrameCount = WM_APP + 0x40;    // frames in the image, 0 when none decoded
constexpr UINT kPicGetCurrentFrame = WM_APP + 0x41;  // index of the frame shown
constexpr UINT kPicGetImageSize = WM_APP + 0x42;     // MAKELRESULT(width, height)
