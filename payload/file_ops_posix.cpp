// POSIX backend of the file operations. Paths arrive as GBK text with "\"
// separators and are converted at the system call. The read-only attribute
// is the owner's write permission, enforced here even for root.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "payload/file_ops.h"
#include "payload/posix_folders.h"
#include "system/folders.h"
#include "system/posix_path.h"

namespace {

// Empty when the text is empty or not valid GBK.
std::string NativePath(const Text& path) { return path.empty() ? std::string() : ToPosixPath(path); }

bool StatOf(const Text& path, struct stat& st) {
    std::string native = NativePath(path);
    return !native.empty() && stat(native.c_str(), &st) == 0;
}

bool LinkStatOf(const std::string& native, struct stat& st) {
    return !native.empty() && lstat(native.c_str(), &st) == 0;
}

int Fd(const FileHandle& file) { return static_cast<int>(file.native()); }

constexpr int kModeFlags[] = {
    O_RDWR,                       // 0: read-write, open existing
    O_RDONLY,                     // 1
    O_WRONLY,                     // 2
    O_RDWR,                       // 3
    O_RDWR | O_CREAT | O_TRUNC,   // 4
    O_WRONLY | O_CREAT,           // 5
    O_RDONLY | O_CREAT,           // 6
    O_RDWR | O_CREAT,             // 7
};


std::vector<std::string> NativeNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    // No listing order is defined here; sorted names make archives reproducible.
    std::sort(names.begin(), names.end());
    return names;
}

bool IsRealFolder(const std::string& native) {
    struct stat st;
    return LinkStatOf(native, st) && S_ISDIR(st.st_mode);
}

// Depth first, links never followed, mount points never entered.
void ClearFolder(const std::string& folder) {
    posix_folders::Fd held(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (held.valid()) posix_folders::ClearFolderAt(held.get());
}

bool IsDriveRootOrSeparators(const Text& path) {
    if (path.find_first_not_of("\\/") == Text::npos) return true;
    if (path.size() >= 2 && path.size() <= 3 && path[1] == ':')
        return path.size() == 2 || path[2] == '\\' || path[2] == '/';
    return false;
}

}  // namespace

FileHandle::~FileHandle() {
    if (native_ != -1) close(static_cast<int>(native_));
}

bool readExactly(const FileHandle& file, std::uint8_t* into, std::size_t length) {
    std::size_t total = 0;
    while (total < length) {
        std::size_t want = length - total < kFileChunkSize ? length - total : kFileChunkSize;
        ssize_t got = read(Fd(file), into + total, want);
        if (got < 0 && errno == EINTR) continue;
        // A read that fails or makes no progress ends the whole read.
        if (got <= 0) return false;
        total += static_cast<std::size_t>(got);
    }
    return true;
}

bool readExactlyAt(const FileHandle& file, std::uint64_t offset, std::uint8_t* into, std::size_t length) {
    return lseek(Fd(file), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset) &&
           readExactly(file, into, length);
}

bool openFileSize(const FileHandle& file, std::size_t& size) {
    struct stat st;
    if (fstat(Fd(file), &st) != 0 || st.st_size < 0) return false;
    size = static_cast<std::size_t>(st.st_size);
    return true;
}

FileHandle openFile(const Text& path, int mode, int share, std::uint32_t attributes) {
    (void)share;  // no share modes here
    (void)attributes;
    if (mode < 0 || mode > 7) return FileHandle();
    std::string native = NativePath(path);
    if (native.empty()) return FileHandle();
    int flags = kModeFlags[mode];
    struct stat st;
    bool exists = stat(native.c_str(), &st) == 0;
    // A read-only file refuses writers, as it does on Windows.
    if (exists && (flags & (O_WRONLY | O_RDWR)) && !(st.st_mode & S_IWUSR)) return FileHandle();
    int fd = open(native.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0) return FileHandle();
    FileHandle file(fd);
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return FileHandle();
    return file;
}

namespace {

void IdentityOf(const struct stat& st, FileIdentity& identity) {
    identity.volume = static_cast<std::uint64_t>(st.st_dev);
    identity.file = static_cast<std::uint64_t>(st.st_ino);
    identity.size = static_cast<std::uint64_t>(st.st_size);
    identity.writeTime = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    identity.changeTime = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    identity.links = static_cast<std::uint32_t>(st.st_nlink);
}

}  // namespace

bool openFileIdentity(const FileHandle& file, FileIdentity& identity) {
    struct stat st;
    if (fstat(Fd(file), &st) != 0) return false;
    IdentityOf(st, identity);
    return true;
}

bool pathIdentity(const Text& path, FileIdentity& identity) {
    struct stat st;
    if (!StatOf(path, st)) return false;
    IdentityOf(st, identity);
    return true;
}

bool setOpenFileAttributes(const FileHandle& file, std::uint32_t attributes) {
    struct stat st;
    if (fstat(Fd(file), &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & kAttributeReadOnly) ? (mode & ~static_cast<mode_t>(0222)) : (mode | S_IWUSR);
    return mode == (st.st_mode & 07777) || fchmod(Fd(file), mode) == 0;
}

bool seekOpenFile(const FileHandle& file, std::uint64_t offset) {
    return lseek(Fd(file), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

bool isDirectory(const Text& path) {
    struct stat st;
    return StatOf(path, st) && S_ISDIR(st.st_mode);
}

bool pathExists(const Text& path) {
    struct stat st;
    return LinkStatOf(NativePath(path), st);
}

int entryKind(const Text& path) {
    if (!pathExists(path)) return kEntryMissing;
    return isDirectory(path) ? kEntryFolder : kEntryFile;
}

bool writeExactly(const FileHandle& file, const std::uint8_t* data, std::size_t length) {
    std::size_t total = 0;
    while (total < length) {
        ssize_t written = write(Fd(file), data + total, length - total);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        total += static_cast<std::size_t>(written);
    }
    return true;
}

bool writeWholeFile(const Text& path, const std::uint8_t* data, std::size_t length) {
    FileHandle file = openFile(path, 4, 4, kAttributeNormal);
    return file.valid() && writeExactly(file, data, length);
}

void setAttributes(const Text& path, std::uint32_t attributes) {
    // Through a handle of the entry itself: a link is not followed.
    std::string native = NativePath(path);
    if (native.empty()) return;
    FileHandle entry(open(native.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (entry.valid()) setOpenFileAttributes(entry, attributes);
}

std::int32_t getAttributes(const Text& path) {
    struct stat st;
    if (!StatOf(path, st)) return -1;
    std::int32_t word = S_ISDIR(st.st_mode) ? kAttributeDirectory : kAttributeArchive;
    if (!(st.st_mode & S_IWUSR)) word |= kAttributeReadOnly;
    return word;
}

bool deleteFile(const Text& path) {
    std::string native = NativePath(path);
    if (!native.empty() && !IsRealFolder(native) && unlink(native.c_str()) == 0) return true;
    return !pathExists(path);
}

bool removeFolder(const Text& path) {
    std::string native = NativePath(path);
    return !native.empty() && rmdir(native.c_str()) == 0;
}

bool deleteTree(const Text& folder) {
    std::string native = NativePath(folder);
    if (native.empty()) return false;
    while (native.size() > 1 && native.back() == '/') native.pop_back();
    if (IsRealFolder(native)) {
        ClearFolder(native);
        rmdir(native.c_str());
    } else {
        unlink(native.c_str());  // a link to a folder goes, its target stays
    }
    return !pathExists(folder);
}

bool removeDirectoryTree(const Text& folder) {
    std::size_t start = folder.find_first_not_of(' ');
    if (start == Text::npos) return false;
    Text path = folder.substr(start);
    if (IsDriveRootOrSeparators(path)) return false;
    std::string native = NativePath(path);
    if (native.empty() || !IsRealFolder(native)) return false;
    ClearFolder(native);
    return rmdir(native.c_str()) == 0;
}

bool forceRemove(const Text& path) {
    std::string native = NativePath(path);
    if (native.empty()) return false;
    if (unlink(native.c_str()) == 0) return true;
    // Moved out of the way into a work folder beside it, on its own volume.
    const std::size_t slash = native.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : native.substr(0, slash);
    const std::string name = slash == std::string::npos ? native : native.substr(slash + 1);
    posix_folders::Fd parent(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (parent.valid() && !name.empty() && fstatat(parent.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISDIR(st.st_mode))
        posix_folders::MoveAside(parent.get(), name.c_str(), parent.get());
    return !pathExists(path);
}

TextList listDirectory(const Text& folder, const Text& pattern) {
    TextList names;
    if (!isDirectory(folder)) return names;
    std::string nativePattern;
    if (!pattern.empty() && pattern != "*.*" && !GbkToUtf8(pattern, nativePattern)) return names;
    for (const std::string& name : NativeNames(NativePath(folder))) {
        if (!nativePattern.empty() && pattern != "*." && fnmatch(nativePattern.c_str(), name.c_str(), 0) != 0)
            continue;
        if (pattern == "*." && name.find('.') != std::string::npos) continue;
        // A name the ANSI code page cannot hold is not visible through it.
        Text gbk;
        if (!Utf8ToGbk(name, gbk) || gbk.find('\\') != Text::npos) continue;
        names.push_back(gbk);
    }
    return names;
}

std::int32_t fileSizeOf(const Text& path) {
    struct stat st;
    if (!StatOf(path, st)) return -1;
    if (S_ISDIR(st.st_mode)) return 0;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<unsigned long long>(st.st_size)));
}
