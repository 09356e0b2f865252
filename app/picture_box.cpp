#include "app/picture_box.h"

#include <objidl.h>
#include <shlwapi.h>

#include <memory>
#include <vector>

#include "app/gdiplus_include.h"

namespace {

constexpr UINT_PTR kFrameTimer = 1;
// Browsers treat tiny GIF delays as 100 ms; so do we.
constexpr UINT kShortestDelayMs = 20;
constexpr UINT kDefaultDelayMs = 100;

struct ComRelease {
    void operator()(IUnknown* p) const { if (p) p->Release(); }
};

struct Picture {
    std::unique_ptr<IStream, ComRelease> stream;  // must outlive the image
    std::unique_ptr<Gdiplus::Image> image;
    GUID dimension = Gdiplus::FrameDimensionTime;
    std::vector<UINT> delaysMs;
    UINT frameCount = 0;
    UINT frame = 0;
    bool scaled = false;
    COLORREF background = RGB(255, 255, 255);
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
    if (!init.image || init.image->empty()) return picture;
    picture->stream.reset(SHCreateMemStream(init.image->data(), static_cast<UINT>(init.image->size())));
    if (!picture->stream) return picture;
    auto image = std::make_unique<Gdiplus::Image>(picture->stream.get());
    if (image->GetLastStatus() != Gdiplus::Ok || image->GetWidth() == 0) return picture;
    UINT frames = image->GetFrameCount(&Gdiplus::FrameDimensionTime);
    picture->frameCount = frames == 0 ? 1 : frames;
    if (frames > 1) picture->delaysMs = FrameDelays(*image, frames);
    picture->image = std::move(image);
    return picture;
}

Picture* PictureOf(HWND hwnd) { return reinterpret_cast<Picture*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)); }

void Draw(const Picture& picture, HDC target, const RECT& box) {
    int width = box.right - box.left;
    int height = box.bottom - box.top;
    // Drawn off-screen first so animation frames do not flicker.
    HDC memory = CreateCompatibleDC(target);
    HBITMAP bitmap = CreateCompatibleBitmap(target, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    HBRUSH brush = CreateSolidBrush(picture.background);
    FillRect(memory, &box, brush);
    DeleteObject(brush);
    if (picture.image) {
        Gdiplus::Graphics graphics(memory);
        if (picture.scaled) {
            graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
            graphics.DrawImage(picture.image.get(), 0, 0, width, height);
        } else {
            // Pixel size, whatever resolution the file claims.
            graphics.DrawImage(picture.image.get(), 0, 0, static_cast<INT>(picture.image->GetWidth()),
                               static_cast<INT>(picture.image->GetHeight()));
        }
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
    picture.image->SelectActiveFrame(&picture.dimension, picture.frame);
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
        return picture && picture->image ? picture->frameCount : 0;
    case kPicGetCurrentFrame:
        return picture ? picture->frame : 0;
    case kPicGetImageSize:
        if (!picture || !picture->image) return 0;
        return MAKELRESULT(picture->image->GetWidth(), picture->image->GetHeight());
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
