#pragma once
// Wide-path helpers of the Windows file backends (file operations and the
// target tree). A link (reparse point) is never entered, and never removed
// by its path: Wine opens what a link names even when asked for the link
// itself, so a link goes only through a handle that shows it is one.
#include <windows.h>

#include <cstdint>
#include <string>

#include "system/text.h"

namespace wide_ops {

inline bool IsLink(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}
inline bool IsFolder(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
inline bool NotFound(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }
inline bool Missing(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES && NotFound(GetLastError());
}

// Closes a file handle when it goes.
class Handle {
   public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    ~Handle() {
        if (valid()) CloseHandle(h_);
    }
    Handle(Handle&& other) noexcept : h_(other.h_) { other.h_ = INVALID_HANDLE_VALUE; }
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            Handle old(h_);
            h_ = other.h_;
            other.h_ = INVALID_HANDLE_VALUE;
        }
        return *this;
    }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE get() const { return h_; }
    HANDLE release() {
        HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return h;
    }

   private:
    HANDLE h_;
};

// What an open handle tells of its entry, by the calls Wine answers
// quickly (no volume lookup).
struct EntryInfo {
    DWORD attributes = 0;
    std::uint32_t links = 0;
    std::uint64_t size = 0;
    std::int64_t writeTime = 0;
    std::int64_t changeTime = 0;
    std::uint64_t fileId = 0;  // only when asked for
};
bool QueryEntry(HANDLE handle, EntryInfo& info, bool withFileId = false);
// The file ID alone.
bool FileIdOf(HANDLE handle, std::uint64_t& id);

// The entry itself, never what a link names, for reading its attributes.
// Without delete sharing: while it is held, it cannot be renamed or removed.
Handle OpenEntry(const std::wstring& path, DWORD access = FILE_READ_ATTRIBUTES,
                 DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE);
// A real folder (no link), held open for listing; invalid otherwise.
Handle PinFolder(const std::wstring& path);
// The path of what a handle reaches as its volume names it (no drive),
// without a final separator.
bool HandleName(HANDLE handle, std::wstring& name);
// Deletes through a handle opened with DELETE access, a read-only file
// with other names too where the system can.
bool DeleteOpenFile(HANDLE file);
// Removes a link only when a handle to the entry shows it is one.
bool RemoveLink(const std::wstring& path);
// Everything inside the folder, depth first, through handles below it held
// open; links removed, never entered.
void ClearFolder(const std::wstring& folder);
// The folder itself and everything below it, or the link; true when nothing is left.
bool DeleteTree(const std::wstring& folder);
// Deletes a file, or moves one that refuses deletion into a work folder of
// its own under the temporary folder (forceRemove).
bool ForceRemove(const std::wstring& path);

}  // namespace wide_ops
