#pragma once
// A drive letter of the Wine prefix that leads to a host folder, defined
// through Wine's mount manager as its configuration tool does
// (DefineDosDevice names are not followed by Wine's file-name lookup).
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace wine_drive {

constexpr DWORD kDefineUnixDrive = CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

#pragma pack(push, 8)
struct UnixDriveRequest {
    ULONG size;
    ULONG type;
    ULONG fsType;
    DWORD serial;
    ULONGLONG unixDevice;
    WCHAR letter;
    USHORT mountPointOffset;
    USHORT deviceOffset;
    USHORT labelOffset;
};
#pragma pack(pop)

// An empty `unixPath` removes the letter.
inline bool DefineUnixDrive(char letter, const std::string& unixPath, UINT type) {
    std::vector<char> buffer(sizeof(UnixDriveRequest) + unixPath.size() + 1, '\0');
    auto* request = reinterpret_cast<UnixDriveRequest*>(buffer.data());
    request->size = static_cast<ULONG>(buffer.size());
    request->type = type;
    request->letter = static_cast<WCHAR>(std::tolower(static_cast<unsigned char>(letter)));
    if (!unixPath.empty()) {
        request->mountPointOffset = sizeof(UnixDriveRequest);
        std::copy(unixPath.begin(), unixPath.end(), buffer.begin() + sizeof(UnixDriveRequest));
    }
    HANDLE manager = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (manager == INVALID_HANDLE_VALUE) return false;
    DWORD returned = 0;
    const bool done = DeviceIoControl(manager, kDefineUnixDrive, buffer.data(), static_cast<DWORD>(buffer.size()),
                                      nullptr, 0, &returned, nullptr) != 0;
    CloseHandle(manager);
    return done;
}

// A free letter (X: down to M:) leading to a host folder while it lives;
// Drive() ("X:") is empty when none could be defined.
class UnixDrive {
public:
    explicit UnixDrive(const std::string& unixPath) {
        const DWORD used = GetLogicalDrives();
        for (char letter = 'X'; letter >= 'M' && drive_.empty(); --letter)
            if (!(used & (1u << (letter - 'A'))) && DefineUnixDrive(letter, unixPath, DRIVE_FIXED))
                drive_ = std::string(1, letter) + ":";
    }
    ~UnixDrive() {
        if (!drive_.empty()) DefineUnixDrive(drive_[0], std::string(), DRIVE_NO_ROOT_DIR);
    }
    UnixDrive(const UnixDrive&) = delete;
    UnixDrive& operator=(const UnixDrive&) = delete;
    const std::string& Drive() const { return drive_; }

private:
    std::string drive_;
};

// A Windows path as the host names it; empty outside Wine.
inline std::string HostPathOf(const std::wstring& path) {
    using Fn = char*(CDECL*)(const wchar_t*);
    const auto convert = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    char* name = convert ? convert(path.c_str()) : nullptr;
    const std::string result = name ? name : "";
    if (name) HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Runs a host shell command (`script`, with the host paths of `paths` as
// $1, $2, ...) and waits until it is done: a host program cannot be waited
// for through its handle, so the script ends by making a marker file.
// False outside Wine or when it did not finish.
inline bool RunHostScript(const std::string& script, const std::vector<std::wstring>& paths) {
    using Fn = wchar_t*(CDECL*)(const char*);
    const auto dosName = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")));
    wchar_t* shell = dosName ? dosName("/bin/sh") : nullptr;
    if (!shell) return false;
    std::wstring command = L"\"" + std::wstring(shell) + L"\"";
    HeapFree(GetProcessHeap(), 0, shell);
    wchar_t temp[MAX_PATH], marker[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, temp) || !GetTempFileNameW(temp, L"host", 0, marker) || !DeleteFileW(marker))
        return false;
    std::vector<std::string> args = {"-c", script + "; : > \"$0\"", HostPathOf(marker)};
    for (const std::wstring& path : paths) args.push_back(HostPathOf(path));
    for (const std::string& arg : args) {
        if (arg.empty()) return false;
        std::wstring wide(arg.size(), L'\0');
        wide.resize(MultiByteToWideChar(CP_UTF8, 0, arg.data(), static_cast<int>(arg.size()), wide.data(),
                                        static_cast<int>(wide.size())));
        std::wstring quoted;
        for (wchar_t c : wide) quoted += c == L'"' ? std::wstring(L"\\\"") : std::wstring(1, c);
        command += L" \"" + quoted + L"\"";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 200; ++i, Sleep(50)) {
        if (DeleteFileW(marker)) return true;
    }
    return false;
}

// A host symbolic link at `link` to `target` (Windows paths), made by the
// host's own ln: what Wine shows as a link to a folder. Wine removes no
// such link, so the host's rm takes it away again.
inline bool PlantHostLink(const std::wstring& link, const std::wstring& target) {
    return RunHostScript("ln -sfn \"$2\" \"$1\"", {link, target});
}
inline bool RemoveHostLink(const std::wstring& link) { return RunHostScript("rm -f \"$1\"", {link}); }

}  // namespace wine_drive
