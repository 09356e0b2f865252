#include "tests/e2e/driver.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <winioctl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <vector>

namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "payload/md5.h"
#include "process/process_scan.h"
#include "system/wide_text.h"
#include "tests/wine_drive.h"

namespace {

// The driver reads the wizard's pixels as they are: a process that is not
// DPI-aware would see every rectangle scaled back to 96 dpi.
const bool kDpiAware = [] {
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    auto set = reinterpret_cast<SetContextFn>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext"));
    return set && set(reinterpret_cast<HANDLE>(-4));  // Per-Monitor V2
}();

}  // namespace

InstallerProcess::~InstallerProcess() {
    if (!info_.hProcess) return;
    if (ExitCode() == STILL_ACTIVE) {
        TerminateProcess(info_.hProcess, 1);
        WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

bool InstallerProcess::Start(const std::string& exe, const std::string& arguments, const Text& directory) {
    std::wstring commandLine = Wide("\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments));
    const std::wstring folder = Wide(directory);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    return CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &info_) != 0;
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
    const std::function<bool(HWND)>* match;
    HWND found;
};

BOOL CALLBACK MatchTop(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<TopSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner != search->processId || !IsWindowVisible(hwnd)) return TRUE;
    if (!(*search->match)(hwnd)) return TRUE;
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

HWND FindTopWindowWhere(DWORD processId, const std::function<bool(HWND)>& match) {
    TopSearch search{processId, &match, nullptr};
    EnumWindows(MatchTop, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindTopWindow(DWORD processId, const Text& caption) {
    return FindTopWindowWhere(processId, [&](HWND hwnd) { return ControlText(hwnd) == caption; });
}

HWND FindControlById(HWND root, int id) {
    return FindDescendant(root, [id](HWND hwnd) { return GetDlgCtrlID(hwnd) == id; });
}

HWND FindDescendantOfClass(HWND root, const std::string& className) {
    std::string wanted = Lower(className);
    return FindDescendant(root, [&](HWND hwnd) { return ClassName(hwnd) == wanted; });
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

std::wstring ControlWideText(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 5000,
                        &copied);
    text.resize(std::min<std::size_t>(copied, length));
    return text;
}

Text ControlText(HWND hwnd) { return Narrow(ControlWideText(hwnd)); }

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
            wide.resize(wcsnlen(wide.c_str(), length));
            result = Narrow(wide);
        }
    }
    CloseHandle(process);
    return result;
}

int TabSelection(HWND tab) { return static_cast<int>(SendMessageW(tab, TCM_GETCURSEL, 0, 0)); }

// A window's area as it is on the screen, so the frame and every child
// look as the user sees them.
class ScreenCapture {
public:
    explicit ScreenCapture(HWND window) : screen_(GetDC(nullptr)) {
        RECT rect;
        GetWindowRect(window, &rect);
        width = rect.right - rect.left;
        height = rect.bottom - rect.top;
        memory_ = CreateCompatibleDC(screen_);
        bitmap = CreateCompatibleBitmap(screen_, width, height);
        HGDIOBJ old = SelectObject(memory_, bitmap);
        BitBlt(memory_, 0, 0, width, height, screen_, rect.left, rect.top, SRCCOPY);
        SelectObject(memory_, old);
    }
    ~ScreenCapture() {
        DeleteObject(bitmap);
        DeleteDC(memory_);
        ReleaseDC(nullptr, screen_);
    }
    ScreenCapture(const ScreenCapture&) = delete;
    ScreenCapture& operator=(const ScreenCapture&) = delete;

    HDC memory() const { return memory_; }
    int width = 0, height = 0;
    HBITMAP bitmap = nullptr;

private:
    HDC screen_;
    HDC memory_ = nullptr;
};

int ScreenPixelsOfColour(HWND window, COLORREF colour) {
    ScreenCapture capture(window);
    const int width = capture.width, height = capture.height;
    if (width <= 0 || height <= 0) return 0;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    int count = 0;
    if (GetDIBits(capture.memory(), capture.bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS) == height) {
        // DIB pixels are 0x00RRGGBB; COLORREF is 0x00BBGGRR.
        const std::uint32_t wanted = (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
        for (std::uint32_t pixel : pixels) count += (pixel & 0xFFFFFF) == wanted;
    }
    return count;
}

bool SaveScreenshot(HWND window, const std::string& folder, const std::string& name) {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return false;
    bool saved = false;
    {
        ScreenCapture capture(window);
        CreateDirectoryW(Wide(folder).c_str(), nullptr);
        std::wstring widePath = Wide(folder + "\\" + name);
        CLSID png;
        Gdiplus::Bitmap image(capture.bitmap, nullptr);
        saved = PngEncoder(&png) && image.Save(widePath.c_str(), &png, nullptr) == Gdiplus::Ok;
    }
    Gdiplus::GdiplusShutdown(token);
    return saved;
}

bool SetControlWideText(HWND control, const std::wstring& text) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                               5000, &result) &&
           result == TRUE;
}

bool SetControlText(HWND control, const Text& text) { return SetControlWideText(control, Wide(text)); }

bool BringToForeground(HWND window) {
    SetForegroundWindow(window);
    return WaitFor([&] { return GetForegroundWindow() == window; }, 5000);
}

namespace {

INPUT KeyInput(WORD virtualKey, WORD scan, DWORD flags) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = scan;
    input.ki.dwFlags = flags;
    return input;
}

}  // namespace

void PressKey(WORD virtualKey, bool shift, bool alt) {
    std::vector<INPUT> inputs;
    if (shift) inputs.push_back(KeyInput(VK_SHIFT, 0, 0));
    if (alt) inputs.push_back(KeyInput(VK_MENU, 0, 0));
    inputs.push_back(KeyInput(virtualKey, 0, 0));
    inputs.push_back(KeyInput(virtualKey, 0, KEYEVENTF_KEYUP));
    if (alt) inputs.push_back(KeyInput(VK_MENU, 0, KEYEVENTF_KEYUP));
    if (shift) inputs.push_back(KeyInput(VK_SHIFT, 0, KEYEVENTF_KEYUP));
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void TypeText(const std::wstring& text) {
    std::vector<INPUT> inputs;
    for (wchar_t c : text) {
        inputs.push_back(KeyInput(0, c, KEYEVENTF_UNICODE));
        inputs.push_back(KeyInput(0, c, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

HWND FocusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

bool FocusCueShown(HWND control) {
    DWORD_PTR state = 0;
    return SendMessageTimeoutW(control, WM_QUERYUISTATE, 0, 0, SMTO_ABORTIFHUNG, 5000, &state) &&
           !(state & UISF_HIDEFOCUS);
}

void Click(HWND button) { SendMessageW(button, BM_CLICK, 0, 0); }

void PostClick(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

bool IsChecked(HWND checkBox) { return SendMessageW(checkBox, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void SetChecked(HWND checkBox, bool checked) {
    SendMessageW(checkBox, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

LRESULT SendWithRemoteText(HWND window, UINT message, WPARAM wParam, const Text& text) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, processId);
    if (!process) return 0;
    DWORD_PTR result = 0;
    {
        RemoteBuffer remote(process, text.size() + 1);
        SIZE_T written = 0;
        if (remote.Address() && WriteProcessMemory(process, remote.Address(), text.c_str(), text.size() + 1, &written))
            SendMessageTimeoutA(window, message, wParam, reinterpret_cast<LPARAM>(remote.Address()), SMTO_ABORTIFHUNG,
                                5000, &result);
    }
    CloseHandle(process);
    return static_cast<LRESULT>(result);
}

Text TreeItemText(HWND tree, HTREEITEM item) {
    DWORD processId = 0;
    GetWindowThreadProcessId(tree, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (!process) return {};
    constexpr int kTextSize = 520;
    Text text;
    {
        RemoteBuffer remote(process, sizeof(TVITEMW) + kTextSize * sizeof(wchar_t));
        auto* base = static_cast<char*>(remote.Address());
        TVITEMW request{};
        request.mask = TVIF_TEXT;
        request.hItem = item;
        request.pszText = reinterpret_cast<wchar_t*>(base + sizeof(TVITEMW));
        request.cchTextMax = kTextSize;
        wchar_t buffer[kTextSize] = {};
        SIZE_T moved = 0;
        if (base && WriteProcessMemory(process, base, &request, sizeof(request), &moved) &&
            SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(base)) &&
            ReadProcessMemory(process, base + sizeof(TVITEMW), buffer, sizeof(buffer), &moved))
            text = Narrow(std::wstring(buffer, wcsnlen(buffer, kTextSize)));
    }
    CloseHandle(process);
    return text;
}

bool SelectTreeItemPath(HWND tree, const std::vector<Text>& parts) {
    auto next = [&](HTREEITEM item, UINT relation) {
        return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
    };
    auto childNamed = [&](HTREEITEM parent, const Text& part) -> HTREEITEM {
        SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent));
        for (HTREEITEM child = next(parent, TVGN_CHILD); child; child = next(child, TVGN_NEXT))
            if (TreeItemText(tree, child).find(part) != Text::npos) return child;
        return nullptr;
    };
    HTREEITEM root = next(nullptr, TVGN_ROOT);
    if (!root || parts.empty()) return false;
    // The first part may sit one level further down (a drive below the computer item).
    HTREEITEM item = childNamed(root, parts[0]);
    for (HTREEITEM child = next(root, TVGN_CHILD); child && !item; child = next(child, TVGN_NEXT))
        item = childNamed(child, parts[0]);
    for (std::size_t i = 1; i < parts.size() && item; ++i) item = childNamed(item, parts[i]);
    return item && SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
}

Text ReadUserRegistryText(const Text& key, const Text& value, bool* exists) {
    if (exists) *exists = false;
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Wide(key).c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return {};
    std::wstring data;
    DWORD type = 0, size = 0;
    const std::wstring name = Wide(value);
    if (RegQueryValueExW(handle, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        if (exists) *exists = true;
        data.resize(size / sizeof(wchar_t) + 1);
        RegQueryValueExW(handle, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
        data.resize(std::min<std::size_t>(size / sizeof(wchar_t), data.size()));
        while (!data.empty() && data.back() == L'\0') data.pop_back();
    }
    RegCloseKey(handle);
    return Narrow(data);
}

void DeleteUserRegistryValue(const Text& key, const Text& value) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Wide(key).c_str(), 0, KEY_SET_VALUE, &handle) != ERROR_SUCCESS) return;
    RegDeleteValueW(handle, Wide(value).c_str());
    RegCloseKey(handle);
}

namespace {

Text Narrow(const wchar_t* wide) { return ::Narrow(std::wstring(wide)); }

std::wstring Widen(const Text& text) { return Wide(text); }

}  // namespace

ShortcutInfo ReadShortcut(const Text& linkPath) {
    ShortcutInfo info;
    bool comStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
        SUCCEEDED(file->Load(Widen(linkPath).c_str(), STGM_READ))) {
        info.loaded = true;
        wchar_t buffer[MAX_PATH * 2] = {};
        if (SUCCEEDED(link->GetPath(buffer, MAX_PATH * 2, nullptr, SLGP_RAWPATH))) info.target = Narrow(buffer);
        // Wine keeps the raw path only in the ANSI code page, so on 1252 a
        // Chinese name reads back as "?"; the item list keeps the name.
        PIDLIST_ABSOLUTE items = nullptr;
        if (info.target.find('?') != Text::npos && SUCCEEDED(link->GetIDList(&items)) && items) {
            if (SHGetPathFromIDListW(items, buffer)) info.target = Narrow(buffer);
            CoTaskMemFree(items);
        }
        buffer[0] = 0;
        if (SUCCEEDED(link->GetWorkingDirectory(buffer, MAX_PATH * 2))) info.workingDirectory = Narrow(buffer);
        buffer[0] = 0;
        if (SUCCEEDED(link->GetArguments(buffer, MAX_PATH * 2))) info.arguments = Narrow(buffer);
        buffer[0] = 0;
        if (SUCCEEDED(link->GetDescription(buffer, MAX_PATH * 2))) info.description = Narrow(buffer);
        buffer[0] = 0;
        if (SUCCEEDED(link->GetIconLocation(buffer, MAX_PATH * 2, &info.iconIndex))) info.iconPath = Narrow(buffer);
        link->GetHotkey(&info.hotKey);
        link->GetShowCmd(&info.showCommand);
    }
    if (file) file->Release();
    if (link) link->Release();
    if (comStarted) CoUninitialize();
    return info;
}

std::vector<DWORD> ProcessIdsNamed(const Text& imageName) {
    ProcessIdList ids;
    FindProcessesByName(imageName, ids);
    return std::vector<DWORD>(ids.begin(), ids.end());
}

void EndProcesses(const std::vector<DWORD>& ids) {
    for (DWORD id : ids) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (!process) continue;
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
}

Text ProcessImagePath(DWORD processId) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process) return {};
    wchar_t buffer[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    Text path = QueryFullProcessImageNameW(process, 0, buffer, &size) ? Narrow(std::wstring(buffer, size)) : Text();
    CloseHandle(process);
    return path;
}

std::uint64_t ProcessStartTime(DWORD processId) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process) return 0;
    FILETIME created{}, exited{}, kernel{}, user{};
    std::uint64_t start = 0;
    if (GetProcessTimes(process, &created, &exited, &kernel, &user))
        start = (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    CloseHandle(process);
    return start;
}

DWORD ParentProcessId(DWORD processId) {
    struct SnapshotCloser {
        void operator()(HANDLE snapshot) const { CloseHandle(snapshot); }
    };
    HANDLE raw = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (raw == INVALID_HANDLE_VALUE) return 0;
    std::unique_ptr<void, SnapshotCloser> snapshot(raw);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(raw, &entry); more; more = Process32NextW(raw, &entry))
        if (entry.th32ProcessID == processId) return entry.th32ParentProcessID;
    return 0;
}

std::int32_t FileAttributesOf(const Text& path) {
    return static_cast<std::int32_t>(GetFileAttributesW(Wide(path).c_str()));
}

bool Exists(const Text& path) { return FileAttributesOf(path) != -1; }

std::uint64_t ModificationTime(const Text& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

bool SetModificationTime(const Text& path, std::uint64_t time) {
    HANDLE file = CreateFileW(Wide(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME stamp{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    bool set = SetFileTime(file, nullptr, nullptr, &stamp) != 0;
    CloseHandle(file);
    return set;
}

namespace {

// Below a scratch folder only: links and junctions are removed, never entered.
void RemoveWideTree(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(path.c_str());
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW entry;
        HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = entry.cFileName;
                if (name != L"." && name != L"..") RemoveWideTree(path + L"\\" + name);
            } while (FindNextFileW(find, &entry));
            FindClose(find);
        }
    }
    RemoveDirectoryW(path.c_str());
}

}  // namespace

bool RemoveTree(const Text& folder) {
    std::wstring wide = Wide(folder);
    while (!wide.empty() && wide.back() == L'\\') wide.pop_back();
    RemoveWideTree(wide);
    return !Exists(folder);
}

bool DeletePath(const Text& path) {
    DeleteFileW(Wide(path).c_str());
    return !Exists(path);
}

bool WriteFileBytes(const Text& path, const std::string& bytes) {
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    CloseHandle(file);
    return ok;
}

Text FileMd5(const Text& path) {
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    Md5 digest;
    std::vector<char> chunk(1 << 20);
    DWORD read = 0;
    while (ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr) && read > 0)
        digest.update(chunk.data(), read);
    CloseHandle(file);
    return digest.finish();
}

TextList FolderNames(const Text& folder) {
    TextList names;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(Wide(folder + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        Text text;
        // A name code page 936 cannot carry shows as such instead of matching by accident.
        names.push_back(TextFromWide(name, text) ? text : Text("<not GBK>"));
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

using wine_drive::DefineUnixDrive;

// The folder's path on the host, empty outside Wine.
std::string UnixPathOf(const Text& path) {
    using UnixNameFn = char*(CDECL*)(const wchar_t*);
    auto unixName =
        reinterpret_cast<UnixNameFn>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    if (!unixName) return {};
    char* name = unixName(Widen(path).c_str());
    if (!name) return {};
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

}  // namespace

bool MapDrive(const Text& drive, const Text& folder) {
    std::string unixPath = UnixPathOf(folder);
    if (drive.size() != 2 || unixPath.empty()) return false;
    return DefineUnixDrive(drive[0], unixPath, DRIVE_FIXED) && Exists(drive + "\\");
}

void UnmapDrive(const Text& drive, const Text&) {
    if (drive.size() == 2) DefineUnixDrive(drive[0], std::string(), DRIVE_NO_ROOT_DIR);
}

MappedDrive::MappedDrive(const Text& folder) : folder_(folder) {
    DWORD used = GetLogicalDrives();
    for (char letter = 'X'; letter >= 'M' && drive_.empty(); --letter)
        if (!(used & (1u << (letter - 'A')))) drive_ = Text(1, letter) + ":";
    if (!drive_.empty() && !MapDrive(drive_, folder_)) drive_.clear();
}

MappedDrive::~MappedDrive() {
    if (!drive_.empty()) UnmapDrive(drive_, folder_);
}
