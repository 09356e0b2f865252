#include "system/folders.h"

#include <shlobj.h>
#include <winternl.h>

#include <atomic>

#include "system/com_owner.h"
#include "system/system_library.h"
#include "system/wide_text.h"

namespace {

// Loaded once and never released; 0 until the first successful load.
std::atomic<HMODULE> g_shellLibrary{nullptr};

// Result buffers, in bytes of the text they may hold.
constexpr std::size_t kFolderBytes = 1024;
constexpr std::size_t kDialogBytes = 2048;

// A path the system gave, as a text that fits the caller's buffer; empty
// when code page 936 cannot carry it (a profile folder named in another
// script), so no caller works on a guessed spelling of it.
Text PathFromSystem(const wchar_t* wide, std::size_t capacity, std::size_t maxBytes) {
    Text path = TextFromWideBuffer(wide, capacity);
    return path.size() < maxBytes ? path : Text();
}

struct ItemList {
    LPITEMIDLIST pidl = nullptr;
    ~ItemList() {
        if (pidl) CoTaskMemFree(pidl);
    }
};

// The system's shell32 only: never a copy beside the installer, which may
// sit in a download folder.
bool EnsureShellLibrary() {
    if (g_shellLibrary.load()) return true;
    HMODULE module = LoadModule("shell32.dll");
    g_shellLibrary.store(module);
    return module != nullptr;
}

// Judged on the wide name: a GBK character's second byte may be a backslash.
bool IsBareName(const std::wstring& name) { return !name.empty() && name.find_first_of(L"\\/:") == std::wstring::npos; }

// "C:\..." or "\\server\...": a path no search can reinterpret.
bool IsFullPath(const std::wstring& name) {
    const bool drive = name.size() > 2 && name[1] == L':' && name[2] == L'\\';
    return drive || name.rfind(L"\\\\", 0) == 0;
}

using LdrLoadDllFn = NTSTATUS(NTAPI*)(PWSTR, PULONG, PUNICODE_STRING, PHANDLE);

// The counted name is built from the code page 936 conversion, not by the
// native ANSI routines, which would read the name in the system's code page.
HMODULE LoadWithNativeLoader(const Text& name) {
    auto loadDll =
        reinterpret_cast<LdrLoadDllFn>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "LdrLoadDll"));
    std::wstring wide;
    if (!loadDll || !WideFromText(TextFromBytes(name.data(), name.size()), wide)) return nullptr;
    // A counted string holds at most 32767 characters and its terminator.
    if (wide.size() >= 0x7FFF) return nullptr;
    UNICODE_STRING unicode{};
    unicode.Buffer = wide.data();
    unicode.Length = static_cast<USHORT>(wide.size() * sizeof(wchar_t));
    unicode.MaximumLength = static_cast<USHORT>(unicode.Length + sizeof(wchar_t));
    HANDLE module = nullptr;
    ULONG flags = 0;
    return loadDll(nullptr, &flags, &unicode, &module) == 0 ? static_cast<HMODULE>(module) : nullptr;
}

}  // namespace

HMODULE LoadModule(const Text& name, bool useNativeLoader) {
    std::wstring wide;
    if (!WideFromText(TextFromBytes(name.data(), name.size()), wide)) return nullptr;
    if (IsBareName(wide)) return useNativeLoader ? nullptr : LoadSystemLibrary(wide.c_str());
    if (!IsFullPath(wide)) return nullptr;
    return useNativeLoader ? LoadWithNativeLoader(name) : LoadLibraryW(wide.c_str());
}

HMODULE ShellLibraryHandle() { return g_shellLibrary.load(); }

// The system's own temporary folder, the last one Windows itself would
// take; empty when it is not there.
Text WindowsTempDirectory() {
    wchar_t buffer[kFolderBytes] = {};
    UINT length = GetWindowsDirectoryW(buffer, kFolderBytes);
    if (length == 0 || length >= kFolderBytes) return Text();
    Text path = PathFromSystem(buffer, kFolderBytes, kFolderBytes - 5);
    if (path.empty()) return Text();
    if (EndsWithBackslashChar(path)) path.pop_back();
    path += "\\Temp";
    DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? path : Text();
}

Text TempDirectory() {
    wchar_t buffer[kFolderBytes] = {};
    DWORD length = GetTempPathW(kFolderBytes, buffer);
    if (length == 0 || length >= kFolderBytes) return Text();
    Text path = PathFromSystem(buffer, kFolderBytes, kFolderBytes);
    // A profile folder code page 936 cannot name (a Korean user name, say):
    // the system's temporary folder instead, never a guessed spelling that
    // might be another user's.
    if (path.empty()) return WindowsTempDirectory();
    if (EndsWithBackslashChar(path)) path.pop_back();
    return path;
}

Text SpecialFolderPath(int folderId) {
    if (folderId == kCsidlTempPseudo) return TempDirectory();
    if (!EnsureShellLibrary()) return Text();
    ItemList items;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, folderId, &items.pidl)) || !items.pidl) return Text();
    wchar_t buffer[MAX_PATH] = {};
    if (!SHGetPathFromIDListW(items.pidl, buffer)) return Text();
    return PathFromSystem(buffer, MAX_PATH, kFolderBytes);
}

Text BrowseForFolder(HWND owner, const Text& title, int rootFolderId) {
    // The new-style dialog (its edit box and "make new folder") is built
    // from COM objects, which need an apartment on the calling thread.
    ComApartment apartment;
    ItemList root;
    SHGetSpecialFolderLocation(owner, rootFolderId, &root.pidl);
    const std::wstring wideTitle = Wide(TextFromBytes(title.data(), title.size()));
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.pidlRoot = root.pidl;
    info.pszDisplayName = nullptr;
    info.lpszTitle = wideTitle.c_str();
    info.ulFlags = 0xFE;
    ItemList chosen;
    chosen.pidl = SHBrowseForFolderW(&info);
    if (!chosen.pidl) return Text();
    wchar_t buffer[MAX_PATH] = {};
    if (!SHGetPathFromIDListW(chosen.pidl, buffer)) return Text();
    return PathFromSystem(buffer, MAX_PATH, kDialogBytes);
}
