#include "tests/e2e/driver.h"

#include <commctrl.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <vector>

namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

InstallerProcess::~InstallerProcess() {
    if (!info_.hProcess) return;
    if (ExitCode() == STILL_ACTIVE) {
        TerminateProcess(info_.hProcess, 1);
        WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

bool InstallerProcess::Start(const std::string& exe, const std::string& arguments) {
    std::string commandLine = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    return CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info_) != 0;
}

bool InstallerProcess::WaitForExit(DWORD timeoutMs) {
    return info_.hProcess && WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

DWORD InstallerProcess::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (info_.hProcess) GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(50);
    }
    return true;
}

namespace {

struct TopSearch {
    DWORD processId;
    const Text* caption;
    HWND found;
};

BOOL CALLBACK MatchTop(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<TopSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner != search->processId || !IsWindowVisible(hwnd)) return TRUE;
    if (ControlText(hwnd) != *search->caption) return TRUE;
    search->found = hwnd;
    return FALSE;
}

struct ChildSearch {
    std::function<bool(HWND)> match;
    HWND found;
};

BOOL CALLBACK MatchChild(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<ChildSearch*>(param);
    if (!search->match(hwnd)) return TRUE;
    search->found = hwnd;
    return FALSE;
}

HWND FindDescendant(HWND root, std::function<bool(HWND)> match) {
    ChildSearch search{std::move(match), nullptr};
    EnumChildWindows(root, MatchChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Memory in another process, released with it.
class RemoteBuffer {
public:
    RemoteBuffer(HANDLE process, std::size_t size)
        : process_(process), address_(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE)) {}
    ~RemoteBuffer() {
        if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    void* Address() const { return address_; }

private:
    HANDLE process_;
    void* address_;
};

bool PngEncoder(CLSID* clsid) {
    UINT count = 0, size = 0;
    Gdiplus::GetImageEncodersSize(&count, &size);
    if (size == 0) return false;
    std::vector<std::uint8_t> storage(size);
    auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(storage.data());
    Gdiplus::GetImageEncoders(count, size, encoders);
    for (UINT i = 0; i < count; ++i) {
        if (std::wstring(encoders[i].MimeType) == L"image/png") {
            *clsid = encoders[i].Clsid;
            return true;
        }
    }
    return false;
}

}  // namespace

HWND FindTopWindow(DWORD processId, const Text& caption) {
    TopSearch search{processId, &caption, nullptr};
    EnumWindows(MatchTop, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindControlById(HWND root, int id) {
    return FindDescendant(root, [id](HWND hwnd) { return GetDlgCtrlID(hwnd) == id; });
}

HWND FindControlByText(HWND root, const std::string& className, const Text& text) {
    std::string wanted = Lower(className);
    return FindDescendant(root, [&](HWND hwnd) { return ClassName(hwnd) == wanted && ControlText(hwnd) == text; });
}

std::string ClassName(HWND hwnd) {
    char name[128] = {};
    GetClassNameA(hwnd, name, sizeof(name));
    return Lower(name);
}

Text ControlText(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return {};
    Text text(length + 1, '\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 5000,
                        &copied);
    text.resize(std::min<std::size_t>(copied, length));
    return text;
}

RECT RectInParent(HWND hwnd) {
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    MapWindowPoints(nullptr, GetParent(hwnd), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

Text StatusBarText(HWND bar, int part) {
    DWORD processId = 0;
    GetWindowThreadProcessId(bar, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (!process) return {};
    Text result;
    std::size_t length = LOWORD(SendMessageW(bar, SB_GETTEXTLENGTHW, part, 0));
    std::size_t bytes = (length + 1) * sizeof(wchar_t);
    {
        RemoteBuffer remote(process, bytes);
        std::wstring wide(length + 1, L'\0');
        SIZE_T read = 0;
        if (remote.Address() &&
            (SendMessageW(bar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(remote.Address())), true) &&
            ReadProcessMemory(process, remote.Address(), wide.data(), bytes, &read)) {
            int size = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
            if (size > 1) {
                result.resize(static_cast<std::size_t>(size));
                WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, result.data(), size, nullptr, nullptr);
                result.resize(static_cast<std::size_t>(size) - 1);
            }
        }
    }
    CloseHandle(process);
    return result;
}

int TabSelection(HWND tab) { return static_cast<int>(SendMessageA(tab, TCM_GETCURSEL, 0, 0)); }

bool SaveScreenshot(HWND window, const std::string& folder, const std::string& name) {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return false;
    bool saved = false;
    {
        RECT rect;
        GetWindowRect(window, &rect);
        int width = rect.right - rect.left, height = rect.bottom - rect.top;
        // From the screen, so the frame and every child look as the user sees them.
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
        SelectObject(memory, old);
        CreateDirectoryA(folder.c_str(), nullptr);
        std::string path = folder + "\\" + name;
        std::wstring widePath(path.begin(), path.end());
        CLSID png;
        Gdiplus::Bitmap image(bitmap, nullptr);
        saved = PngEncoder(&png) && image.Save(widePath.c_str(), &png, nullptr) == Gdiplus::Ok;
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
    }
    Gdiplus::GdiplusShutdown(token);
    return saved;
}
