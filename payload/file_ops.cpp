// The platform-free file operations: path texts and the ones built on top
// of the backend's primitives.
#include "payload/file_ops.h"

#include <new>

#include "payload/md5.h"

namespace {

// Byte length of the character at i, as the file system reads it.
std::size_t PathCharLength(const Text& text, std::size_t i) {
    return IsPathLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
}

// Byte position of the last "\" that is a whole character, npos if none.
std::size_t LastBackslashChar(const Text& text) {
    std::size_t last = Text::npos;
    for (std::size_t i = 0; i < text.size(); i += PathCharLength(text, i))
        if (text[i] == '\\') last = i;
    return last;
}

// Where the run of backslash characters that ends the text begins.
std::size_t TrailingSeparatorsStart(const Text& text) {
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = PathCharLength(text, i);
        if (n == 2 || text[i] != '\\') runStart = i + n;
        i += n;
    }
    return runStart;
}

bool IsSeparatorByte(char c) { return c == '\\' || c == '/' || c == ':'; }

}  // namespace

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        FileHandle old(native_);
        native_ = other.release();
    }
    return *this;
}

Text directoryPart(const Text& path, bool keepFinalSeparator) {
    Text result = ForwardToBackslashes(path);
    std::size_t lastDot = result.rfind('.');
    std::size_t lastSeparator = LastBackslashChar(result);
    bool lastComponentIsFile =
        lastDot == Text::npos || lastSeparator == Text::npos || lastDot > lastSeparator;
    if (lastComponentIsFile) result = lastSeparator == Text::npos ? Text() : result.substr(0, lastSeparator);
    result.resize(TrailingSeparatorsStart(result));
    if (keepFinalSeparator) result += '\\';
    return result;
}

Text fileFolderPart(const Text& path) {
    Text result = ForwardToBackslashes(path);
    const std::size_t lastSeparator = LastBackslashChar(result);
    result.resize(lastSeparator == Text::npos ? 0 : lastSeparator);
    result.resize(TrailingSeparatorsStart(result));
    return result;
}

Text fileNamePart(const Text& path) {
    // The name starts after the last separator that has something after it.
    std::size_t start = 0;
    for (std::size_t i = 0; i < path.size();) {
        const std::size_t length = PathCharLength(path, i);
        if (length == 1 && IsSeparatorByte(path[i]) && i + 1 < path.size() && path[i + 1] != '\\' &&
            path[i + 1] != '/')
            start = i + 1;
        i += length;
    }
    return start == 0 ? Text() : path.substr(start);
}

bool deletePath(const Text& path) {
    if (isDirectory(path)) return deleteTree(path);
    if (pathExists(path)) return deleteFile(path);
    return true;
}

void collectFiles(const Text& folder, TextList& out) {
    Text path = ForwardToBackslashes(folder);
    if (entryKind(path) != kEntryFolder) {
        out.push_back(path);
        return;
    }
    if (!EndsWithBackslashChar(path)) path += '\\';
    for (const Text& name : listDirectory(path)) {
        Text full = path + name;
        if (entryKind(full) == kEntryFolder)
            collectFiles(full, out);
        else
            out.push_back(full);
    }
}

ByteBuffer readWholeFile(const Text& path) {
    FileHandle file = openFile(path, 1, 1);
    std::size_t size = 0;
    if (!file.valid() || !openFileSize(file, size)) return ByteBuffer();
    ByteBuffer bytes;
    try {
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        return ByteBuffer();
    }
    if (!readExactly(file, bytes.data(), size)) return ByteBuffer();
    return bytes;
}

Text md5OfFile(const Text& path) {
    if (!pathExists(path)) return Text();
    // What cannot be opened digests as no bytes.
    FileHandle file = openFile(path, 1, 1);
    return file.valid() ? md5OfOpenFile(file) : Md5OfBytes(nullptr, 0);
}

Text md5OfOpenFile(const FileHandle& file) {
    std::size_t size = 0;
    if (!seekOpenFile(file, 0) || !openFileSize(file, size)) return Md5OfBytes(nullptr, 0);
    Md5 digest;
    ByteBuffer chunk(size < kFileChunkSize ? size : kFileChunkSize);
    for (std::size_t total = 0; total < size;) {
        std::size_t want = size - total < kFileChunkSize ? size - total : kFileChunkSize;
        if (!readExactly(file, chunk.data(), want)) return Md5OfBytes(nullptr, 0);
        digest.update(chunk.data(), want);
        total += want;
    }
    return digest.finish();
}
