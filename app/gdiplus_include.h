#pragma once
// GDI+'s C++ headers expect min and max, which NOMINMAX removes.
#include <windows.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>
