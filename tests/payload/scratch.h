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
