#pragma once
// Test helpers: a scratch folder under the temporary folder, removed with
// everything in it (read-only files included), and archive builders.
#include <filesystem>
#include <string>
#include <vector>

#include "payload/archive_format.h"
#include "payload/envelope.h"
#include "payload/file_ops.h"
#include "payload/md5.h"
#include "process/directory.h"
#include "system/folders.h"
#include "system/posix_path.h"

#ifdef _WIN32
#include <windows.h>
inline unsigned long ProcessId() { return GetCurrentProcessId(); }
#else
#include <sys/inotify.h>
#include <unistd.h>
inline unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }
#endif

// A path for std::filesystem; tests that use it keep to ASCII names.
inline std::filesystem::path FsPath(const Text& path) {
#ifdef _WIN32
    return std::filesystem::path(path);
#else
    return std::filesystem::path(ToPosixPath(path));
#endif
}

class ScratchDir {
public:
    ScratchDir() {
        static int counter = 0;
        path_ = TempDirectory() + "\\vantel-t" + std::to_string(ProcessId()) + "-" + std::to_string(counter++) + "\\";
        Clear();
        EnsureDirectoryPath(path_);
    }
    ~ScratchDir() { Clear(); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // The folder, ending with "\".
    const Text& path() const { return path_; }
    Text operator/(const Text& relative) const { return path_ + relative; }

    // Writes a file, creating its folders.
    Text write(const Text& relative, const std::string& contents) const {
        Text full = path_ + relative;
        Text folder = full.substr(0, full.rfind('\\'));
        EnsureDirectoryPath(folder);
        writeWholeFile(full, reinterpret_cast<const std::uint8_t*>(contents.data()), contents.size());
        return full;
    }

private:
    void Clear() {
        TextList files;
        collectFiles(path_, files);
        for (const Text& file : files) setAttributes(file, kAttributeArchive);
        deletePath(path_);
    }
    Text path_;
};

inline ByteBuffer Bytes(const std::string& text) { return ByteBuffer(text.begin(), text.end()); }
inline std::string Contents(const Text& path) {
    ByteBuffer bytes = readWholeFile(path);
    return std::string(bytes.begin(), bytes.end());
}

inline ArchiveEntry Record(const Text& path, const std::string& contents, std::int32_t attributes = 32) {
    ArchiveEntry entry;
    entry.path = path;
    entry.data = Bytes(contents);
    entry.md5 = Md5OfBytes(entry.data);
    entry.fileSize = static_cast<std::int32_t>(entry.data.size());
    entry.attributes = attributes;
    return entry;
}

inline ByteBuffer Envelope(const std::vector<ArchiveEntry>& entries) { return packEnvelope(WriteArchive(entries)); }

// Tells whether an entry was created, renamed or removed anywhere below a
// folder since the watch began, even one that is gone again.
class FolderWatch {
public:
#ifdef _WIN32
    explicit FolderWatch(const Text& folder)
        : handle_(FindFirstChangeNotificationA(folder.c_str(), TRUE,
                                               FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME)) {}
    ~FolderWatch() {
        if (valid()) FindCloseChangeNotification(handle_);
    }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    // Notice may come late: waits a little for it.
    bool changed() const { return valid() && WaitForSingleObject(handle_, 500) == WAIT_OBJECT_0; }

private:
    HANDLE handle_;
#else
    explicit FolderWatch(const Text& folder) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (fd_ >= 0 && inotify_add_watch(fd_, ToPosixPath(folder).c_str(),
                                          IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO) < 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~FolderWatch() {
        if (valid()) close(fd_);
    }
    bool valid() const { return fd_ >= 0; }
    bool changed() const {
        alignas(inotify_event) char events[4096];
        return valid() && read(fd_, events, sizeof(events)) > 0;
    }

private:
    int fd_;
#endif
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;
};
