#include "app/picture_box.h"

#include <objidl.h>
#include <shlwapi.h>

#include <memory>
#include <vector>

#include "app/dpi_scale.h"
#include "app/gdiplus_include.h"

namespace {

constexpr UINT_PTR kFrameTimer = 1;
// Browsers treat tiny GIF delays as 100 ms; so do we.
constexpr UINT kShortestDelayMs = 20;
constexpr UINT kDefaultDelayMs = 100;

struct ComRelease {
    void operator()(IUnknown* p) const { if (p) p->Release(); }
};

// One encoded picture and its decoded image.
struct Source {
    ByteBuffer bytes;
    std::unique_ptr<IStream, ComRelease> stream;  // must outlive the image
    std::unique_ptr<Gdiplus::Image> image;
    UINT frameShown = 0;

    bool Decode() {
        if (image) return true;
        if (bytes.empty()) return false;
        stream.reset(SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size())));
        if (!stream) return false;
        auto decoded = std::make_unique<Gdiplus::Image>(stream.get());
        if (decoded->GetLastStatus() != Gdiplus::Ok || decoded->GetWidth() == 0) return false;
        image = std::move(decoded);
        return true;
    }
};

struct Picture {
    Source base;   // the table's picture: its size, frames and delays
    Source large;  // twice the size, decoded when first needed
    GUID dimension = Gdiplus::FrameDimensionTime;
    std::vector<UINT> delaysMs;
    UINT frameCount = 0;
    UINT frame = 0;
    bool scaled = false;
    COLORREF background = RGB(255, 255, 255);
    int dpi = kBaseDpi;

    // The image drawn from at this DPI: the large one above 96 dpi when it
    // decodes and has the same frames.
    Source* Drawn() {
        if (dpi > kBaseDpi && large.Decode() &&
            large.image->GetFrameCount(&Gdiplus::FrameDimensionTime) ==
                base.image->GetFrameCount(&Gdiplus::FrameDimensionTime))
            return &large;
        return &base;
    }
    SIZE DrawnSize(const RECT& box) const {
        if (scaled) return {box.right - box.left, box.bottom - box.top};
        return {Scaled(static_cast<int>(base.image->GetWidth()), dpi),
                Scaled(static_cast<int>(base.image->GetHeight()), dpi)};
    }
};

std::vector<UINT> FrameDelays(Gdiplus::Image& image, UINT frames) {
    std::vector<UINT> delays(frames, kDefaultDelayMs);
    UINT size = image.GetPropertyItemSize(PropertyTagFrameDelay);
    if (size == 0) return delays;
    std::vector<std::uint8_t> storage(size);
    auto* item = reinterpret_cast<Gdiplus::PropertyItem*>(storage.data());
    if (image.GetPropertyItem(PropertyTagFrameDelay, size, item) != Gdiplus::Ok) return delays;
    const auto* centiseconds = static_cast<const std::uint32_t*>(item->value);
    UINT count = std::min<UINT>(frames, item->length / 4);
    for (UINT i = 0; i < count; ++i) {
        UINT ms = centiseconds[i] * 10;
        delays[i] = ms < kShortestDelayMs ? kDefaultDelayMs : ms;
    }
    return delays;
}

std::unique_ptr<Picture> Decode(const PictureBoxInit& init) {
    auto picture = std::make_unique<Picture>();
    picture->scaled = init.scaled;
    picture->background = init.background;
    picture->dpi = init.dpi > 0 ? init.dpi : kBaseDpi;
    if (init.image) picture->base.bytes = *init.image;
    if (init.large) picture->large.bytes = *init.large;
    if (!picture->base.Decode()) return picture;
    Gdiplus::Image& image = *picture->base.image;
    UINT frames = image.GetFrameCount(&Gdiplus::FrameDimensionTime);
    picture->frameCount = frames == 0 ? 1 : frames;
    if (frames > 1) picture->delaysMs = FrameDelays(image, frames);
    return picture;
}

Picture* PictureOf(HWND hwnd) { return reinterpret_cast<Picture*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)); }

void Draw(Picture& picture, HDC target, const RECT& box) {
    int width = box.right - box.left;
    int height = box.bottom - box.top;
    // Drawn off-screen first so animation frames do not flicker.
    HDC memory = CreateCompatibleDC(target);
    HBITMAP bitmap = CreateCompatibleBitmap(target, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    HBRUSH brush = CreateSolidBrush(picture.background);
    FillRect(memory, &box, brush);
    DeleteObject(brush);
    if (picture.base.image) {
        Source& source = *picture.Drawn();
        Gdiplus::Image& image = *source.image;
        if (picture.frameCount > 1 && source.frameShown != picture.frame) {
            image.SelectActiveFrame(&picture.dimension, picture.frame);
            source.frameShown = picture.frame;
        }
        Gdiplus::Graphics graphics(memory);
        const SIZE size = picture.DrawnSize(box);
        const bool exact = static_cast<LONG>(image.GetWidth()) == size.cx &&
                           static_cast<LONG>(image.GetHeight()) == size.cy;
        if (picture.scaled || !exact) {
            graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
            if (&source != &picture.base) graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
        }
        // An exact size is pixel for pixel, whatever resolution the file claims.
        graphics.DrawImage(&image, 0, 0, static_cast<INT>(size.cx), static_cast<INT>(size.cy));
    }
    BitBlt(target, 0, 0, width, height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
}

void ScheduleNextFrame(HWND hwnd, const Picture& picture) {
    if (picture.frameCount > 1) SetTimer(hwnd, kFrameTimer, picture.delaysMs[picture.frame], nullptr);
}

void AdvanceFrame(HWND hwnd, Picture& picture) {
    picture.frame = (picture.frame + 1) % picture.frameCount;
    InvalidateRect(hwnd, nullptr, FALSE);
    ScheduleNextFrame(hwnd, picture);
}

LRESULT CALLBACK PictureBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Picture* picture = PictureOf(hwnd);
    switch (message) {
    case WM_NCCREATE: {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        const auto* init = static_cast<const PictureBoxInit*>(create->lpCreateParams);
        if (!init) return FALSE;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(Decode(*init).release()));
        break;
    }
    case WM_CREATE:
        if (picture) ScheduleNextFrame(hwnd, *picture);
        return 0;
    case WM_TIMER:
        if (picture && wParam == kFrameTimer && picture->frameCount > 1) AdvanceFrame(hwnd, *picture);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT box;
        GetClientRect(hwnd, &box);
        if (picture) Draw(*picture, dc, box);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_PRINTCLIENT: {
        RECT box;
        GetClientRect(hwnd, &box);
        if (picture) Draw(*picture, reinterpret_cast<HDC>(wParam), box);
        return 0;
    }
    case kPicGetFrameCount:
        return picture && picture->base.image ? picture->frameCount : 0;
    case kPicGetCurrentFrame:
        return picture ? picture->frame : 0;
    case kPicGetImageSize: {
        if (!picture || !picture->base.image) return 0;
        Gdiplus::Image& image = *picture->Drawn()->image;
        return MAKELRESULT(image.GetWidth(), image.GetHeight());
    }
    case kPicGetDrawnSize: {
        if (!picture || !picture->base.image) return 0;
        RECT box;
        GetClientRect(hwnd, &box);
        SIZE size = picture->DrawnSize(box);
        return MAKELRESULT(size.cx, size.cy);
    }
    case kPicSetDpi:
        if (picture && wParam > 0) {
            picture->dpi = static_cast<int>(wParam);
            InvalidateRect(hwnd, nullptr, FALSE);
        }
        return 0;
    case WM_NCDESTROY:
        KillTimer(hwnd, kFrameTimer);
        delete picture;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

bool RegisterPictureBoxClass() {
    WNDCLASSW existing;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (GetClassInfoW(instance, kPictureBoxClass, &existing)) return true;
    WNDCLASSW wc{};
    wc.lpfnWndProc = PictureBoxProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = kPictureBoxClass;
    return RegisterClassW(&wc) != 0;
}
