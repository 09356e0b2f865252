#include "system/folders.h"

#include <shlobj.h>
#include <winternl.h>

#include <atomic>

namespace {

// Loaded once and never released; 0 until the first successful load.
std::atomic<HMODULE> g_shellLibrary{nullptr};

struct ItemList {
    LPITEMIDLIST pidl = nullptr;
    ~ItemList() {
        if (pidl) CoTaskMemFree(pidl);
    }
};

Text OwnDirectory() {
    char path[MAX_PATH * 2] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path) - 1);
    Text text(path, n);
    std::size_t slash = text.find_last_of('\\');
    return slash == Text::npos ? Text() : text.substr(0, slash);
}

bool EnsureShellLibrary() {
    if (g_shellLibrary.load()) return true;
    HMODULE module = LoadModule("shell32.dll");
    if (!module) module = LoadModule(OwnDirectory() + "\\shell32.dll");
    g_shellLibrary.store(module);
    return module != nullptr;
}

using RtlInitAnsiStringFn = VOID(NTAPI*)(PANSI_STRING, PCSZ);
using RtlAnsiStringToUnicodeStringFn = NTSTATUS(NTAPI*)(PUNICODE_STRING, PCANSI_STRING, BOOLEAN);
using RtlFreeUnicodeStringFn = VOID(NTAPI*)(PUNICODE_STRING);
using LdrLoadDllFn = NTSTATUS(NTAPI*)(PWSTR, PULONG, PUNICODE_STRING, PHANDLE);

HMODULE LoadWithNativeLoader(const Text& name) {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    auto initAnsi = reinterpret_cast<RtlInitAnsiStringFn>(GetProcAddress(ntdll, "RtlInitAnsiString"));
    auto toUnicode =
        reinterpret_cast<RtlAnsiStringToUnicodeStringFn>(GetProcAddress(ntdll, "RtlAnsiStringToUnicodeString"));
    auto freeUnicode = reinterpret_cast<RtlFreeUnicodeStringFn>(GetProcAddress(ntdll, "RtlFreeUnicodeString"));
    auto loadDll = reinterpret_cast<LdrLoadDllFn>(GetProcAddress(ntdll, "LdrLoadDll"));
    if (!initAnsi || !toUnicode || !freeUnicode || !loadDll) return nullptr;
    ANSI_STRING ansi;
    initAnsi(&ansi, name.c_str());
    UNICODE_STRING unicode{};
    if (toUnicode(&unicode, &ansi, TRUE) != 0) return nullptr;
    HANDLE module = nullptr;
    ULONG flags = 0;
    NTSTATUS status = loadDll(nullptr, &flags, &unicode, &module);
    freeUnicode(&unicode);
    return status == 0 ? static_cast<HMODULE>(module) : nullptr;
}

}  // namespace

HMODULE LoadModule(const Text& name, bool useNativeLoader) {
    return useNativeLoader ? LoadWithNativeLoader(name) : LoadLibraryA(name.c_str());
}

HMODULE ShellLibraryHandle() { return g_shellLibrary.load(); }

Text TempDirectory() {
    char buffer[1024] = {};
    if (GetTempPathA(sizeof(buffer), buffer) == 0) return Text();
    Text path = TextFromBytes(buffer, sizeof(buffer));
    if (EndsWithBackslashChar(path)) path.pop_back();
    return path;
}

Text SpecialFolderPath(int folderId) {
    if (folderId == kCsidlTempPseudo) return TempDirectory();
    if (!EnsureShellLibrary()) return Text();
    ItemList items;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, folderId, &items.pidl)) || !items.pidl) return Text();
    char buffer[1024] = {};
    if (!SHGetPathFromIDListA(items.pidl, buffer)) return Text();
    return TextFromBytes(buffer, sizeof(buffer));
}

Text BrowseForFolder(HWND owner, const Text& title, int rootFolderId) {
    ItemList root;
    SHGetSpecialFolderLocation(owner, rootFolderId, &root.pidl);
    BROWSEINFOA info{};
    info.hwndOwner = owner;
    info.pidlRoot = root.pidl;
    info.pszDisplayName = nullptr;
    info.lpszTitle = title.c_str();
    info.ulFlags = 0xFE;
    ItemList chosen;
    chosen.pidl = SHBrowseForFolderA(&info);
    if (!chosen.pidl) return Text();
    char buffer[2048] = {};
    if (!SHGetPathFromIDListA(chosen.pidl, buffer)) return Text();
    return TextFromBytes(buffer, sizeof(buffer));
}
