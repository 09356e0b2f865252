#include "system/system_library.h"

#include <algorithm>
#include <memory>
#include <string>
#include <type_traits>

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
// The policy argument is an enum, passed as an int; older headers lack the
// value used here, so it is numbered below.
using SetProcessMitigationPolicyFn = BOOL(WINAPI*)(int, PVOID, SIZE_T);

// ProcessRedirectionTrustPolicy, and its flag word's EnforceRedirectionTrust
// bit (AuditRedirectionTrust, bit 1, only logs).
constexpr int kRedirectionTrustPolicy = 16;
constexpr DWORD kEnforceRedirectionTrust = 0x1;

// kernel32 is in every process before any of its code runs; what it lacks
// on an old system is looked up, never imported.
FARPROC KernelFunction(const char* name) { return GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name); }

// LoadLibraryExW's search flags came with the same update as this function.
bool HasSearchFlags() { return KernelFunction("SetDefaultDllDirectories") != nullptr; }

// A file name only: anything with a folder or a drive in it could lead
// elsewhere than the system folder.
bool IsBareName(const wchar_t* name) {
    if (!name || !*name) return false;
    for (const wchar_t* p = name; *p; ++p)
        if (*p == L'\\' || *p == L'/' || *p == L':') return false;
    return std::wstring(name).find_first_not_of(L'.') != std::wstring::npos;
}

std::wstring SystemFolder() {
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

struct ModuleRelease {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using ModuleOwner = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleRelease>;

}  // namespace

bool RestrictDllSearch() {
    auto restrict = reinterpret_cast<SetDefaultDllDirectoriesFn>(KernelFunction("SetDefaultDllDirectories"));
    if (restrict && restrict(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
    // The program's own folder stays in the old search; LoadSystemLibrary
    // never relies on it.
    SetDllDirectoryW(L"");
    return false;
}

bool EnforceRedirectionTrust() {
    // Windows 7 has no such function: looked up, never imported.
    auto set = reinterpret_cast<SetProcessMitigationPolicyFn>(KernelFunction("SetProcessMitigationPolicy"));
    DWORD policy = kEnforceRedirectionTrust;
    return set && set(kRedirectionTrustPolicy, &policy, sizeof policy);
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    if (!IsBareName(name)) return nullptr;
    if (!HasSearchFlags()) return LoadSystemLibraryByPath(name);
    // The flag covers the DLL's own dependencies too.
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadSystemLibraryByPath(const wchar_t* name) {
    if (!IsBareName(name)) return nullptr;
    const std::wstring folder = SystemFolder();
    if (folder.empty()) return nullptr;
    // Its dependencies are then looked for beside it first, and the
    // altered order has no place for the program's folder.
    return LoadLibraryExW((folder + L"\\" + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool HoldSystemLibrary(const wchar_t* name) { return LoadSystemLibrary(name) != nullptr; }

bool ResolveSystemFunctions(const wchar_t* library, const char* const* names, FARPROC* functions,
                            std::size_t count) {
    std::fill_n(functions, count, nullptr);
    ModuleOwner module(LoadSystemLibrary(library));
    if (!module) return false;
    for (std::size_t i = 0; i < count; ++i) {
        functions[i] = GetProcAddress(module.get(), names[i]);
        if (!functions[i]) {
            std::fill_n(functions, count, nullptr);
            return false;
        }
    }
    // Resolved functions are called until the process ends: the module stays.
    module.release();
    return true;
}
