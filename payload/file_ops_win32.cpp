// Windows backend of the file operations. Texts reach the wide file
// functions through the code page 936 boundary; a path that does not
// convert is refused like a path that does not exist.
#include <windows.h>
#include <shlwapi.h>
#include <winternl.h>

#include <new>
#include <string>
#include <vector>

#include "payload/file_ops.h"
#include "payload/file_ops_win32.h"
#include "payload/nt_folders.h"
#include "process/message_pump.h"
#include "system/wide_text.h"

using namespace wide_ops;

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

// Not in every SDK's headers: FileDispositionInfoEx (Windows 10 1809).
constexpr int kFileDispositionInfoEx = 21;
constexpr DWORD kDispositionDelete = 0x1, kDispositionPosix = 0x2, kDispositionIgnoreReadOnly = 0x10;

HANDLE Native(const FileHandle& file) { return reinterpret_cast<HANDLE>(file.native()); }

// False (and ERROR_INVALID_NAME) when the text is no code page 936 path.
bool WidePath(const Text& path, std::wstring& wide) {
    if (!path.empty() && WideFromText(path, wide)) return true;
    SetLastError(ERROR_INVALID_NAME);
    return false;
}

std::wstring WithBackslash(std::wstring path) {
    if (path.empty() || (path.back() != L'\\' && path.back() != L'/')) path += L'\\';
    return path;
}

std::wstring WithoutBackslash(std::wstring path) {
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

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
    std::wstring name;
    DWORD attributes;
};

// Entries directly inside a folder (which ends with "\"), dots skipped.
std::vector<FolderEntry> EntriesIn(const std::wstring& folder, const std::wstring& mask = L"*") {
    std::vector<FolderEntry> entries;
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileW((folder + mask).c_str(), &data));
    if (!find.valid()) return entries;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") entries.push_back({name, data.dwFileAttributes});
    } while (FindNextFileW(find.get(), &data));
    return entries;
}

bool IsDriveRootOrSeparators(const Text& path) {
    if (path.find_first_not_of("\\/") == Text::npos) return true;
    if (path.size() >= 2 && path.size() <= 3 && path[1] == ':')
        return path.size() == 2 || path[2] == '\\' || path[2] == '/';
    return false;
}

// The general-purpose folder removal, after its refusals.
bool RemoveTreeAt(const std::wstring& folder) {
    if (IsLink(GetFileAttributesW(folder.c_str()))) return RemoveLink(folder);
    ClearFolder(folder);
    return RemoveDirectoryW(folder.c_str()) != 0;
}

}  // namespace

namespace wide_ops {

bool QueryEntry(HANDLE handle, EntryInfo& info, bool withFileId) {
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) ||
        !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard))
        return false;
    info.attributes = basic.FileAttributes;
    info.writeTime = basic.LastWriteTime.QuadPart;
    info.changeTime = basic.ChangeTime.QuadPart;
    info.links = standard.NumberOfLinks;
    info.size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
    return !withFileId || FileIdOf(handle, info.fileId);
}

bool FileIdOf(HANDLE handle, std::uint64_t& fileId) {
    // The file ID alone: what GetFileInformationByHandle adds, the volume's
    // serial number, costs Wine a lookup of the volume for every call.
    using QueryFn = LONG(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, int);
    static const auto query = reinterpret_cast<QueryFn>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationFile"));
    constexpr int kFileInternalInformation = 6;
    IO_STATUS_BLOCK status{};
    LARGE_INTEGER id{};
    if (!query || query(handle, &status, &id, sizeof id, kFileInternalInformation) < 0) return false;
    fileId = static_cast<std::uint64_t>(id.QuadPart);
    return true;
}

Handle OpenEntry(const std::wstring& path, DWORD access, DWORD share) {
    return Handle(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

Handle PinFolder(const std::wstring& path) {
    // The attribute first: Wine shows a link to a folder only there.
    if (IsLink(GetFileAttributesW(path.c_str()))) return Handle();
    Handle folder = OpenEntry(path, nt_folders::kFolderAccess);
    EntryInfo info;
    if (!folder.valid() || !QueryEntry(folder.get(), info) || !IsFolder(info.attributes) || IsLink(info.attributes))
        return Handle();
    return folder;
}

bool RemoveLink(const std::wstring& path) {
    Handle link = OpenEntry(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    EntryInfo info;
    if (!link.valid() || !QueryEntry(link.get(), info) || !IsLink(info.attributes)) return false;
    FILE_DISPOSITION_INFO dispose{TRUE};
    return SetFileInformationByHandle(link.get(), FileDispositionInfo, &dispose, sizeof dispose) != 0;
}

bool HandleName(HANDLE handle, std::wstring& name) {
    std::vector<std::uint8_t> buffer(sizeof(FILE_NAME_INFO) + sizeof(WCHAR) * 2 * MAX_PATH);
    auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    while (!GetFileInformationByHandleEx(handle, FileNameInfo, info, static_cast<DWORD>(buffer.size()))) {
        if (GetLastError() != ERROR_MORE_DATA || buffer.size() > sizeof(FILE_NAME_INFO) + info->FileNameLength)
            return false;
        buffer.resize(sizeof(FILE_NAME_INFO) + info->FileNameLength);
        info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    }
    name.assign(info->FileName, info->FileNameLength / sizeof(WCHAR));
    while (!name.empty() && name.back() == L'\\') name.pop_back();
    return true;
}

bool DeleteOpenFile(HANDLE file) {
    FILE_DISPOSITION_INFO dispose{TRUE};
    if (SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof dispose)) return true;
    // A read-only file with other names: clearing read-only would clear it
    // for them too, so the system is asked to delete it as it is.
    EntryInfo info;
    if (!QueryEntry(file, info) || info.links < 2) return false;
    DWORD flags = kDispositionDelete | kDispositionPosix | kDispositionIgnoreReadOnly;
    return SetFileInformationByHandle(file, static_cast<FILE_INFO_BY_HANDLE_CLASS>(kFileDispositionInfoEx), &flags,
                                      sizeof flags) != 0;
}

void ClearFolder(const std::wstring& folder) {
    // Held while its entries go, so it cannot be swapped for a link meanwhile.
    Handle pin = PinFolder(WithoutBackslash(folder));
    nt_folders::Folder held{pin.get(), std::wstring()};
    if (pin.valid() && HandleName(pin.get(), held.name))
        nt_folders::ClearFolderAt(held, nt_folders::VolumeOf(pin.get()));
}

bool DeleteTree(const std::wstring& folder) {
    const std::wstring path = WithoutBackslash(folder);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Missing(path);
    // A link to a folder (a junction too) is removed itself, never listed.
    if (IsLink(attributes)) {
        RemoveLink(path);
    } else {
        ClearFolder(path);
        RemoveDirectoryW(path.c_str());
    }
    return Missing(path);
}

bool ForceRemove(const std::wstring& path) {
    if (DeleteFileW(path.c_str())) return true;
    // Moved by its handle: only a file, never a link, which could move what it names.
    Handle file = OpenEntry(path, DELETE | FILE_READ_ATTRIBUTES, nt_folders::kShareAll);
    EntryInfo info;
    if (!file.valid() || !QueryEntry(file.get(), info) || IsLink(info.attributes) || IsFolder(info.attributes))
        return Missing(path);
    // Into a work folder beside it, on its own volume: the folder that holds
    // it, held and checked to be the one the file's handle names.
    std::wstring full(32768, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    const std::size_t slash = length && length < full.size() ? full.find_last_of(L"\\/", length) : std::wstring::npos;
    if (slash == std::wstring::npos || slash + 1 >= length) return Missing(path);
    const std::wstring name = full.substr(slash + 1, length - slash - 1);
    full.resize(slash);
    if (full.size() == 2 && full[1] == L':') full += L'\\';  // a drive's root
    Handle pin = PinFolder(full);
    nt_folders::Folder place{pin.get(), std::wstring()};
    std::wstring fileName;
    nt_folders::Aside aside;
    if (pin.valid() && HandleName(pin.get(), place.name) && nt_folders::IsEntryAt(file.get(), place, name, fileName) &&
        nt_folders::MoveAside(std::move(file), place, aside))
        nt_folders::FinishAside(aside);
    return Missing(path);
}

}  // namespace wide_ops

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
    return seekOpenFile(file, offset) && readExactly(file, into, length);
}

bool seekOpenFile(const FileHandle& file, std::uint64_t offset) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(Native(file), at, nullptr, FILE_BEGIN) != 0;
}

bool openFileSize(const FileHandle& file, std::size_t& size) {
    LARGE_INTEGER large;
    if (!GetFileSizeEx(Native(file), &large) || large.QuadPart < 0) return false;
    if (static_cast<unsigned long long>(large.QuadPart) > SIZE_MAX) return false;
    size = static_cast<std::size_t>(large.QuadPart);
    return true;
}

namespace {

bool IdentityOf(HANDLE handle, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return false;
    identity.volume = info.dwVolumeSerialNumber;
    identity.file = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    identity.size = static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    identity.writeTime =
        static_cast<std::int64_t>(static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32 |
                                  info.ftLastWriteTime.dwLowDateTime);
    identity.changeTime = 0;
    identity.links = info.nNumberOfLinks;
    return true;
}

}  // namespace

bool openFileIdentity(const FileHandle& file, FileIdentity& identity) { return IdentityOf(Native(file), identity); }

bool pathIdentity(const Text& path, FileIdentity& identity) {
    std::wstring wide;
    if (!WidePath(path, wide)) return false;
    Handle entry(CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return entry.valid() && IdentityOf(entry.get(), identity);
}

bool setOpenFileAttributes(const FileHandle& file, std::uint32_t attributes) {
    FILE_BASIC_INFO basic{};  // times left at 0 stay as they are
    // 0 here would mean "unchanged"; SetFileAttributes reads 0 as normal.
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return SetFileInformationByHandle(Native(file), FileBasicInfo, &basic, sizeof basic) != 0;
}

FileHandle openFile(const Text& path, int mode, int share, std::uint32_t attributes) {
    std::wstring wide;
    if (mode < 0 || mode > 7 || share < 0 || share > 4 || !WidePath(path, wide)) return FileHandle();
    DWORD flags = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    // Windows refuses writers of a read-only file; Wine running as root
    // does not, so the rule is applied here as well.
    DWORD existing = GetFileAttributesW(wide.c_str());
    bool writes = (kModes[mode].access & (GENERIC_WRITE | FILE_WRITE_DATA)) != 0;
    if (writes && existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY) &&
        !(existing & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FileHandle();
    }
    HANDLE h = CreateFileW(wide.c_str(), kModes[mode].access, kShares[share], nullptr, kModes[mode].creation, flags,
                           nullptr);
    return FileHandle(reinterpret_cast<std::intptr_t>(h));
}

bool isDirectory(const Text& path) {
    std::wstring wide;
    if (!WidePath(path, wide)) return false;
    BOOL result = PathIsDirectoryW(wide.c_str());
    return result != 0 && (result % 2) == 0;
}

bool pathExists(const Text& path) { return getAttributes(path) != -1; }

int entryKind(const Text& path) {
    std::wstring wide;
    if (!pathExists(path) || !WidePath(path, wide)) return kEntryMissing;
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileW(wide.c_str(), &data));
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

void setAttributes(const Text& path, std::uint32_t attributes) {
    std::wstring wide;
    if (WidePath(path, wide)) SetFileAttributesW(wide.c_str(), attributes);
}

std::int32_t getAttributes(const Text& path) {
    std::wstring wide;
    if (!WidePath(path, wide)) return -1;
    return static_cast<std::int32_t>(GetFileAttributesW(wide.c_str()));
}

bool deleteFile(const Text& path) {
    std::wstring wide;
    if (!WidePath(path, wide)) return false;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (IsLink(attributes)) return RemoveLink(wide) || Missing(wide);
    return (!IsFolder(attributes) && DeleteFileW(wide.c_str())) || Missing(wide);
}

bool removeFolder(const Text& path) {
    std::wstring wide;
    if (!WidePath(path, wide)) return false;
    if (IsLink(GetFileAttributesW(wide.c_str()))) return RemoveLink(wide);
    return RemoveDirectoryW(wide.c_str()) != 0;
}

bool deleteTree(const Text& folder) {
    std::wstring wide;
    return WidePath(folder, wide) && DeleteTree(wide);
}

bool removeDirectoryTree(const Text& folder) {
    std::size_t start = folder.find_first_not_of(' ');
    if (start == Text::npos) return false;
    Text path = folder.substr(start);
    std::wstring wide;
    if (IsDriveRootOrSeparators(path) || !WidePath(path, wide)) return false;
    return RemoveTreeAt(wide);
}

bool forceRemove(const Text& path) {
    std::wstring wide;
    if (!WidePath(path, wide)) return false;
    // A link is removed itself or not at all: moving it could move what it names.
    if (IsLink(GetFileAttributesW(wide.c_str()))) return RemoveLink(wide) || Missing(wide);
    return ForceRemove(wide);
}

TextList listDirectory(const Text& folder, const Text& pattern) {
    TextList names;
    std::wstring wide, mask;
    if (!isDirectory(folder) || !WidePath(folder, wide)) return names;
    // ".*" and "*." are searched as "*.*" and filtered here.
    bool dotFirst = pattern == ".*";
    bool noDot = pattern == "*.";
    if (pattern.empty() || dotFirst || noDot)
        mask = L"*.*";
    else if (!WideFromText(pattern, mask))
        return names;
    for (const FolderEntry& entry : EntriesIn(WithBackslash(wide), mask)) {
        Text name;
        // A name code page 936 cannot hold cannot be named through it either.
        if (!TextFromWide(entry.name, name)) continue;
        if (dotFirst && name[0] != '.') continue;
        if (noDot && name.find('.') != Text::npos) continue;
        names.push_back(name);
    }
    return names;
}

std::int32_t fileSizeOf(const Text& path) {
    std::wstring wide;
    if (!WidePath(path, wide)) return -1;
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileW(wide.c_str(), &data));
    if (!find.valid()) return -1;
    return static_cast<std::int32_t>(data.nFileSizeLow);
}
