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

}  // namespace wine_drive
