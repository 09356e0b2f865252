#pragma once
// File and folder operations of the archive class. Paths are Text with "\"
// separators in the ANSI code page; the POSIX backend converts them at the
// system call. Every operation reports failure through its result.
#include <cstddef>
#include <cstdint>

#include "system/text.h"

// entryKind results.
constexpr int kEntryMissing = -1;
constexpr int kEntryFile = 0;
constexpr int kEntryFolder = -2;

constexpr std::uint32_t kAttributeReadOnly = 0x1;
constexpr std::uint32_t kAttributeDirectory = 0x10;
constexpr std::uint32_t kAttributeArchive = 0x20;
constexpr std::uint32_t kAttributeNormal = 0x80;

// Whole files move in chunks of this size.
constexpr std::size_t kFileChunkSize = 1048576;

// An open file; closed when the owner goes away. -1 when not open.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(std::intptr_t native) : native_(native) {}
    ~FileHandle();
    FileHandle(FileHandle&& other) noexcept : native_(other.release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool valid() const { return native_ != -1; }
    std::intptr_t native() const { return native_; }
    std::intptr_t release() {
        std::intptr_t n = native_;
        native_ = -1;
        return n;
    }

private:
    std::intptr_t native_ = -1;
};

// Modes 1..7: read / write / read-write open existing, read-write create
// always, write / read / read-write open always; 0 means read-write open
// existing. Share codes 1..4: read and write, write, read, none; 0 means read.
FileHandle openFile(const Text& path, int mode = 0, int share = 0, std::uint32_t attributes = 0);

// The size of an open file; false when it cannot be told.
bool openFileSize(const FileHandle& file, std::size_t& size);
// Reads exactly length bytes in chunks, dispatching pending messages
// between them; false when a read fails or makes no progress.
bool readExactly(const FileHandle& file, std::uint8_t* into, std::size_t length);

// Reads exactly length bytes from offset on, leaving the position after
// them; false when the position cannot be set or the read falls short.
bool readExactlyAt(const FileHandle& file, std::uint64_t offset, std::uint8_t* into, std::size_t length);

// Writes every byte, dispatching pending messages between chunks; false
// when a write fails or makes no progress.
bool writeExactly(const FileHandle& file, const std::uint8_t* data, std::size_t length);

// Which file an open handle reaches, and which state of it: volume and
// file ID on Windows, device and inode on POSIX, with size, last write and
// (POSIX) last status change. Two looks at one file agree on all of them
// only if nothing changed it in between. `ownedByTrusted`, told only by
// TargetTree::look: the owner is the running user or the system's own
// (root; Administrators, SYSTEM, TrustedInstaller), not someone who could
// rewrite the file after the run.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    std::uint64_t size = 0;
    std::int64_t writeTime = 0;
    std::int64_t changeTime = 0;
    std::uint32_t links = 0;
    bool ownedByTrusted = false;
    bool sameFile(const FileIdentity& other) const { return volume == other.volume && file == other.file; }
    bool sameState(const FileIdentity& other) const {
        return sameFile(other) && size == other.size && writeTime == other.writeTime &&
               changeTime == other.changeTime;
    }
};
bool openFileIdentity(const FileHandle& file, FileIdentity& identity);
// The identity of what the path names now, links followed as by any opening.
bool pathIdentity(const Text& path, FileIdentity& identity);
// Sets the attribute word through the handle, so no link can redirect it.
// On POSIX only the read-only bit has an effect.
bool setOpenFileAttributes(const FileHandle& file, std::uint32_t attributes);
// Moves the read and write position.
bool seekOpenFile(const FileHandle& file, std::uint64_t offset);
// The lowercase MD5 of the whole file, read from its start in chunks; the
// digest of no bytes when a read fails.
Text md5OfOpenFile(const FileHandle& file);

// True only for an existing folder.
bool isDirectory(const Text& path);
bool pathExists(const Text& path);
// kEntryMissing, kEntryFolder or kEntryFile.
int entryKind(const Text& path);
// The folder part of a path; a last component without a dot is taken for a
// folder when an earlier component has one. It splits where the file
// system does: a two-byte character starts with 0x81 to 0xFE, and 0x80
// stands alone (code page 936's euro sign).
Text directoryPart(const Text& path, bool keepFinalSeparator = false);
// The folder holding a file: the path before its last separator, without
// separators at its end; empty when the path has none. The last component
// is the file's name whether it has a dot or not.
Text fileFolderPart(const Text& path);
// The name after the last separator (a final separator stays with it);
// empty when that is the whole path. Split as directoryPart splits.
Text fileNamePart(const Text& path);
// A lead byte of code page 936 as the file system reads it.
inline bool IsPathLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

// All bytes, or empty when the file cannot be opened or a read fails.
ByteBuffer readWholeFile(const Text& path);
// Creates or truncates the file and writes every byte; false when the file
// cannot be opened or a write makes no progress.
bool writeWholeFile(const Text& path, const std::uint8_t* data, std::size_t length);
inline bool writeWholeFile(const Text& path, const ByteBuffer& data) {
    return writeWholeFile(path, data.data(), data.size());
}

// Failure is ignored. On POSIX only the read-only bit has an effect.
void setAttributes(const Text& path, std::uint32_t attributes);
// The attribute word, -1 when nothing is there.
std::int32_t getAttributes(const Text& path);

bool deleteFile(const Text& path);
bool removeFolder(const Text& path);
// A folder with everything below it; true when nothing is left at the path.
bool deleteTree(const Text& folder);
// Refuses empty paths and drive roots; true when the folder itself went.
bool removeDirectoryTree(const Text& folder);
// A folder or a file; true when nothing is there afterwards.
bool deletePath(const Text& path);
// Deletes a file or moves it out of the way into a work folder beside it,
// on its own volume; true when nothing is at the path afterwards.
bool forceRemove(const Text& path);

// Empty when nothing exists; otherwise the lowercase MD5 of the contents,
// read in chunks (an entry that cannot be read digests as no bytes).
Text md5OfFile(const Text& path);

// Names directly inside a folder (no "." or ".."); empty when it is not one.
// An empty pattern means every name.
TextList listDirectory(const Text& folder, const Text& pattern = Text());
// Full paths of every file below a folder, depth first in listing order;
// a path that is not a folder is returned itself.
void collectFiles(const Text& folder, TextList& out);
// Low 32 bits of the size, -1 when nothing is found.
std::int32_t fileSizeOf(const Text& path);
