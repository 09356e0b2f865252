#pragma once
// What the loading tests share: a DLL planted beside the test program and
// where a module was loaded from.
#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

struct ModuleRelease {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using LoadedModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleRelease>;

// The marker DLL (tests/e2e/planted/marker_dll.c) copied beside this test
// program, as a download folder may hold one beside the installer. Loading
// it leaves "<its path>.ran". The copy and its marker go with the object.
class PlantedDll {
public:
    explicit PlantedDll(const std::string& name)
        : path_(ProgramFolder() + "\\" + name), planted_(CopyFileA(PLANTED_MARKER_DLL, path_.c_str(), FALSE) != 0) {}
    ~PlantedDll() {
        DeleteFileA(path_.c_str());
        DeleteFileA((path_ + ".ran").c_str());
    }
    PlantedDll(const PlantedDll&) = delete;
    PlantedDll& operator=(const PlantedDll&) = delete;

    bool Planted() const { return planted_; }
    const std::string& Path() const { return path_; }
    bool Ran() const { return GetFileAttributesA((path_ + ".ran").c_str()) != INVALID_FILE_ATTRIBUTES; }

    static std::string ProgramFolder() {
        char path[MAX_PATH] = {};
        const std::string program(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
        return program.substr(0, program.find_last_of('\\'));
    }

private:
    std::string path_;
    bool planted_;
};

inline std::wstring LowerWide(std::wstring text) {
    CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// The folder the module was loaded from, lowercased.
inline std::wstring FolderOf(HMODULE module) {
    wchar_t path[MAX_PATH] = {};
    const std::wstring file(path, GetModuleFileNameW(module, path, MAX_PATH));
    return LowerWide(file.substr(0, file.find_last_of(L'\\')));
}

// The system folder, or for a 32-bit program on 64-bit Windows its WOW64
// twin, where the system's own copies then come from.
inline bool IsSystemFolder(const std::wstring& folder) {
    wchar_t buffer[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    if (length > 0 && LowerWide(std::wstring(buffer, length)) == LowerWide(folder)) return true;
    BOOL wow64 = FALSE;
    length = GetSystemWow64DirectoryW(buffer, MAX_PATH);
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64 && length > 0 &&
           LowerWide(std::wstring(buffer, length)) == LowerWide(folder);
}
