#include <windows.h>

#include <string>

#include "payload/free_space.h"
#include "system/wide_text.h"

bool VolumeFreeBytes(const Text& folder, std::uint64_t& available) {
    std::wstring wide;
    if (folder.empty() || !WideFromText(folder, wide)) return false;
    if (wide.back() != L'\\') wide += L'\\';
    ULARGE_INTEGER free{};
    if (!GetDiskFreeSpaceExW(wide.c_str(), &free, nullptr, nullptr)) return false;
    available = free.QuadPart;
    return true;
}

bool LastErrorIsDiskFull() {
    const DWORD error = GetLastError();
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}
