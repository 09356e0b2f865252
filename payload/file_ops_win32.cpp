// Windows backend of the file operations: the ANSI file functions.
#include <windows.h>
#include <shlwapi.h>

#include <new>
#include <string>
#include <vector>

#include "payload/file_ops.h"
#include "process/message_pump.h"
#include "system/folders.h"

namespace {

struct ModeRow {
    DWORD access;
    DWORD creation;
};

// Index = mode; row 0 is the default (access word 3, open existing).
constexpr ModeRow kModes[] = {
    {3, OPEN_EXISTING},
    {GENERIC_READ, OPEN_EXISTING},
    {GENERIC_WRITE, OPEN_EXISTING},
    {GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING},
    {GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS},
    {GENERIC_WRITE, OPEN_ALWAYS},
    {GENERIC_READ, OPEN_ALWAYS},
    {GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS},
};

// Index = share code; 0 is the default (read only).
constexpr DWORD kShares[] = {
    FILE_SHARE_READ,
    FILE_SHARE_READ | FILE_SHARE_WRITE,
    FILE_SHARE_WRITE,
    FILE_SHARE_READ,
    0,
};

HANDLE Native(const FileHandle& file) { return reinterpret_cast<HANDLE>(file.native()); }

class FindHandle {
public:
    explicit FindHandle(HANDLE h) : handle_(h) {}
    ~FindHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

struct FolderEntry {
    Text name;
    DWORD attributes;
};

bool IsDots(const char* name) { return lstrcmpA(name, ".") == 0 || lstrcmpA(name, "..") == 0; }

// Entries directly inside a folder (which ends with "\"), dots skipped.
std::vector<FolderEntry> EntriesIn(const Text& folder, const Text& mask = "*") {
    std::vector<FolderEntry> entries;
    WIN32_FIND_DATAA data;
    FindHandle find(FindFirstFileA((folder + mask).c_str(), &data));
    if (!find.valid()) return entries;
    do {
        if (!IsDots(data.cFileName)) entries.push_back({data.cFileName, data.dwFileAttributes});
    } while (FindNextFileA(find.get(), &data));
    return entries;
}

bool IsFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
// A junction or link to a folder is removed itself, never entered.
bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

Text WithBackslash(Text path) {
    if (!EndsWithBackslashChar(path)) path += '\\';
    return path;
}

bool IsDriveRootOrSeparators(const Text& path) {
    if (path.find_first_not_of("\\/") == Text::npos) return true;
    if (path.size() >= 2 && path.size() <= 3 && path[1] == ':')
        return path.size() == 2 || path[2] == '\\' || path[2] == '/';
    return false;
}

// Depth first: files deleted, folders emptied and removed.
void ClearFolder(const Text& folder) {
    Text base = WithBackslash(folder);
    for (const FolderEntry& entry : EntriesIn(base)) {
        Text full = base + entry.name;
        if (IsFolder(entry.attributes)) {
            if (!IsLink(entry.attributes)) ClearFolder(full);
            RemoveDirectoryA(full.c_str());
        } else {
            DeleteFileA(full.c_str());
        }
    }
}

}  // namespace

FileHandle::~FileHandle() {
    if (native_ != -1) CloseHandle(reinterpret_cast<HANDLE>(native_));
}

bool readExactly(const FileHandle& file, std::uint8_t* into, std::size_t length) {
    std::size_t total = 0;
    while (total < length) {
        if (total > 0) PumpPendingMessages();
        DWORD want = static_cast<DWORD>(length - total < kFileChunkSize ? length - total : kFileChunkSize);
        DWORD got = 0;
        // A read that fails or makes no progress ends the whole read.
        if (!ReadFile(Native(file), into + total, want, &got, nullptr) || got == 0) return false;
        total += got;
    }
    return true;
}

bool readExactlyAt(const FileHandle& file, std::uint64_t offset, std::uint8_t* into, std::size_t length) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(Native(file), at, nullptr, FILE_BEGIN) && readExactly(file, into, length);
}

bool openFileSize(const FileHandle& file, std::size_t& size) {
    LARGE_INTEGER large;
    if (!GetFileSizeEx(Native(file), &large) || large.QuadPart < 0) return false;
    if (static_cast<unsigned long long>(large.QuadPart) > SIZE_MAX) return false;
    size = static_cast<std::size_t>(large.QuadPart);
    return true;
}

FileHandle openFile(const Text& path, int mode, int share, std::uint32_t attributes) {
    if (mode < 0 || mode > 7 || share < 0 || share > 4) return FileHandle();
    DWORD flags = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    // Windows refuses writers of a read-only file; Wine running as root
    // does not, so the rule is applied here as well.
    DWORD existing = GetFileAttributesA(path.c_str());
    bool writes = (kModes[mode].access & (GENERIC_WRITE | FILE_WRITE_DATA)) != 0;
    if (writes && existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY) &&
        !(existing & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FileHandle();
    }
    HANDLE h = CreateFileA(path.c_str(), kModes[mode].access, kShares[share], nullptr, kModes[mode].creation,
                           flags, nullptr);
    return FileHandle(reinterpret_cast<std::intptr_t>(h));
}

bool isDirectory(const Text& path) {
    BOOL result = PathIsDirectoryA(path.c_str());
    return result != 0 && (result % 2) == 0;
}

bool pathExists(const Text& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

int entryKind(const Text& path) {
    if (!pathExists(path)) return kEntryMissing;
    WIN32_FIND_DATAA data;
    FindHandle find(FindFirstFileA(path.c_str(), &data));
    if (!find.valid() || data.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY || isDirectory(path)) return kEntryFolder;
    return kEntryFile;
}

bool writeExactly(const FileHandle& file, const std::uint8_t* data, std::size_t length) {
    unsigned long long total = 0;
    while (total < length) {
        if (total > 0) PumpPendingMessages();
        unsigned long long left = length - total;
        DWORD want = left > 0x40000000ull ? 0x40000000u : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(Native(file), data + total, want, &written, nullptr) || written == 0) return false;
        total += written;
    }
    return true;
}

bool writeWholeFile(const Text& path, const std::uint8_t* data, std::size_t length) {
    FileHandle file = openFile(path, 4, 4, FILE_ATTRIBUTE_NORMAL);
    return file.valid() && writeExactly(file, data, length);
}

void setAttributes(const Text& path, std::uint32_t attributes) { SetFileAttributesA(path.c_str(), attributes); }

std::int32_t getAttributes(const Text& path) { return static_cast<std::int32_t>(GetFileAttributesA(path.c_str())); }

bool deleteFile(const Text& path) { return DeleteFileA(path.c_str()) || !pathExists(path); }

bool removeFolder(const Text& path) { return RemoveDirectoryA(path.c_str()) != 0; }

bool deleteTree(const Text& folder) {
    Text base = WithBackslash(folder);
    std::vector<FolderEntry> entries = EntriesIn(base);
    for (const FolderEntry& entry : entries) {
        if (IsFolder(entry.attributes)) continue;
        PumpPendingMessages();
        deleteFile(base + entry.name);
    }
    for (const FolderEntry& entry : entries) {
        if (!IsFolder(entry.attributes)) continue;
        PumpPendingMessages();
        if (!IsLink(entry.attributes)) deleteTree(base + entry.name);
        removeFolder(base + entry.name);
    }
    removeFolder(folder);
    return !pathExists(folder);
}

bool removeDirectoryTree(const Text& folder) {
    std::size_t start = folder.find_first_not_of(' ');
    if (start == Text::npos) return false;
    Text path = folder.substr(start);
    if (IsDriveRootOrSeparators(path)) return false;
    ClearFolder(path);
    return RemoveDirectoryA(path.c_str()) != 0;
}

bool forceRemove(const Text& path) {
    if (DeleteFileA(path.c_str())) return true;
    Text work = TempDirectory() + "\\f" + std::to_string(GetTickCount());
    SECURITY_ATTRIBUTES security{};
    CreateDirectoryA(work.c_str(), &security);
    CreateDirectoryA((work + "\\....\\").c_str(), &security);
    MoveFileA(path.c_str(), (work + "\\....\\TemporaryFile").c_str());
    MoveFileA((work + "\\....\\").c_str(), (work + "\\TemporaryFile").c_str());
    // Clear the work folder, but only when it is a path on a drive.
    char first = work.empty() ? 0 : work[0];
    bool onDrive = ((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z')) &&
                   (work.find(":\\") != Text::npos || work.find(":/") != Text::npos);
    if (onDrive) {
        Text base = work + "\\";
        std::vector<FolderEntry> entries = EntriesIn(base);
        for (const FolderEntry& entry : entries)
            if (IsFolder(entry.attributes)) removeDirectoryTree(base + entry.name);
        for (const FolderEntry& entry : entries)
            if (!IsFolder(entry.attributes)) DeleteFileA((base + entry.name).c_str());
        removeDirectoryTree(work);
    }
    removeDirectoryTree(work);
    return !pathExists(path);
}

TextList listDirectory(const Text& folder, const Text& pattern) {
    TextList names;
    if (!isDirectory(folder)) return names;
    // ".*" and "*." are searched as "*.*" and filtered here.
    bool dotFirst = pattern == ".*";
    bool noDot = pattern == "*.";
    Text mask = (pattern.empty() || dotFirst || noDot) ? Text("*.*") : pattern;
    for (const FolderEntry& entry : EntriesIn(WithBackslash(folder), mask)) {
        if (dotFirst && entry.name[0] != '.') continue;
        if (noDot && entry.name.find('.') != Text::npos) continue;
        names.push_back(entry.name);
    }
    return names;
}

std::int32_t fileSizeOf(const Text& path) {
    WIN32_FIND_DATAA data;
    FindHandle find(FindFirstFileA(path.c_str(), &data));
    if (!find.valid()) return -1;
    return static_cast<std::int32_t>(data.nFileSizeLow);
}
