// The GDI+ functions the window uses, bound at run time to the system
// folder's gdiplus.dll instead of imported: gdiplus is no DLL that Windows
// protects, and an import would take a copy from the installer's folder.
// The GDI+ C++ classes call these flat functions; each one forwards to
// the system's, or fails as GDI+ does before it is started.
#include <iterator>

#include "app/gdiplus_include.h"
#include "system/system_library.h"

namespace {

// In the order of kNames.
enum Function : std::size_t {
    kGdiplusStartup,
    kGdiplusShutdown,
    kGdipAlloc,
    kGdipFree,
    kGdipLoadImageFromStream,
    kGdipCloneImage,
    kGdipDisposeImage,
    kGdipGetImageWidth,
    kGdipGetImageHeight,
    kGdipImageGetFrameCount,
    kGdipImageSelectActiveFrame,
    kGdipGetPropertyItemSize,
    kGdipGetPropertyItem,
    kGdipCreateFromHDC,
    kGdipDeleteGraphics,
    kGdipSetInterpolationMode,
    kGdipSetPixelOffsetMode,
    kGdipDrawImageRectI,
};

const char* const kNames[] = {
    "GdiplusStartup",         "GdiplusShutdown",          "GdipAlloc",
    "GdipFree",               "GdipLoadImageFromStream",  "GdipCloneImage",
    "GdipDisposeImage",       "GdipGetImageWidth",        "GdipGetImageHeight",
    "GdipImageGetFrameCount", "GdipImageSelectActiveFrame", "GdipGetPropertyItemSize",
    "GdipGetPropertyItem",    "GdipCreateFromHDC",        "GdipDeleteGraphics",
    "GdipSetInterpolationMode", "GdipSetPixelOffsetMode", "GdipDrawImageRectI",
};
static_assert(std::size(kNames) == kGdipDrawImageRectI + 1);

const SystemFunctionTable<std::size(kNames)>& SystemGdiplus() {
    static const SystemFunctionTable<std::size(kNames)> table = [] {
        HoldSystemLibrary(L"windowscodecs.dll");  // the codecs GDI+ loads when it first decodes
        return SystemFunctionTable<std::size(kNames)>(L"gdiplus.dll", kNames);
    }();
    return table;
}

}  // namespace

// A flat function that returns a status: the system's, or "not started".
#define VANTEL_GDIPLUS_FORWARD(name, parameters, arguments)  \
    GpStatus WINGDIPAPI name parameters {                    \
        auto system = SystemGdiplus().Get(k##name, &name);       \
        return system ? system arguments : GdiplusNotInitialized; \
    }

namespace Gdiplus {

// Data the headers declare and the import library would have defined.
extern "C" const GUID FrameDimensionTime = {0x6aedbd6d, 0x3fb5, 0x418a,
                                             {0x83, 0xa6, 0x7f, 0x45, 0x22, 0x9d, 0xc8, 0x72}};

VANTEL_GDIPLUS_FORWARD(GdiplusStartup,
                       (ULONG_PTR * token, const GdiplusStartupInput* input, GdiplusStartupOutput* output),
                       (token, input, output))

VOID WINGDIPAPI GdiplusShutdown(ULONG_PTR token) {
    if (auto system = SystemGdiplus().Get(kGdiplusShutdown, &GdiplusShutdown)) system(token);
}

namespace DllExports {

// The table resolves all or nothing, so memory from the process heap is
// never handed to GDI+'s free, nor the reverse.
VOID* WINGDIPAPI GdipAlloc(size_t size) {
    if (auto system = SystemGdiplus().Get(kGdipAlloc, &GdipAlloc)) return system(size);
    return HeapAlloc(GetProcessHeap(), 0, size);
}

VOID WINGDIPAPI GdipFree(VOID* memory) {
    if (auto system = SystemGdiplus().Get(kGdipFree, &GdipFree)) {
        system(memory);
    } else if (memory) {
        HeapFree(GetProcessHeap(), 0, memory);
    }
}

VANTEL_GDIPLUS_FORWARD(GdipLoadImageFromStream, (IStream * stream, GpImage** image), (stream, image))
VANTEL_GDIPLUS_FORWARD(GdipCloneImage, (GpImage * image, GpImage** clone), (image, clone))
VANTEL_GDIPLUS_FORWARD(GdipDisposeImage, (GpImage * image), (image))
VANTEL_GDIPLUS_FORWARD(GdipGetImageWidth, (GpImage * image, UINT* width), (image, width))
VANTEL_GDIPLUS_FORWARD(GdipGetImageHeight, (GpImage * image, UINT* height), (image, height))
VANTEL_GDIPLUS_FORWARD(GdipImageGetFrameCount, (GpImage * image, const GUID* dimension, UINT* count),
                       (image, dimension, count))
VANTEL_GDIPLUS_FORWARD(GdipImageSelectActiveFrame, (GpImage * image, const GUID* dimension, UINT frame),
                       (image, dimension, frame))
VANTEL_GDIPLUS_FORWARD(GdipGetPropertyItemSize, (GpImage * image, PROPID id, UINT* size), (image, id, size))
VANTEL_GDIPLUS_FORWARD(GdipGetPropertyItem, (GpImage * image, PROPID id, UINT size, PropertyItem* item),
                       (image, id, size, item))
VANTEL_GDIPLUS_FORWARD(GdipCreateFromHDC, (HDC dc, GpGraphics** graphics), (dc, graphics))
VANTEL_GDIPLUS_FORWARD(GdipDeleteGraphics, (GpGraphics * graphics), (graphics))
VANTEL_GDIPLUS_FORWARD(GdipSetInterpolationMode, (GpGraphics * graphics, InterpolationMode mode), (graphics, mode))
VANTEL_GDIPLUS_FORWARD(GdipSetPixelOffsetMode, (GpGraphics * graphics, PixelOffsetMode mode), (graphics, mode))
VANTEL_GDIPLUS_FORWARD(GdipDrawImageRectI, (GpGraphics * graphics, GpImage* image, INT x, INT y, INT width, INT height),
                       (graphics, image, x, y, width, height))

}  // namespace DllExports
}  // namespace Gdiplus
