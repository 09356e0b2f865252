#include "payload/payload_archive.h"

#include "payload/archive_format.h"
#include "payload/file_ops.h"
#include "payload/md5.h"
#include "process/directory.h"

namespace {

constexpr int kMaxPasses = 5;

// The fields of one record before its data; the data stays in the cursor
// until the record turns out to need it.
struct RecordHeader {
    Text path;
    Text md5;
    std::int32_t attributes = 0;
    std::int32_t dataLength = 0;
};

RecordHeader ReadHeader(ArchiveCursor& cursor) {
    RecordHeader header;
    std::int32_t pathLength = cursor.readInt32();
    cursor.readInt32();  // fileSize is carried, never checked
    header.dataLength = cursor.readInt32();
    std::int32_t attributesLength = cursor.readInt32();
    header.path = cursor.takeText(pathLength);
    header.md5 = cursor.takeText(32);
    header.attributes = AttributeTextToInt(cursor.takeText(attributesLength));
    return header;
}

bool SameDigest(const Text& a, const Text& b) { return LowerAscii(a) == LowerAscii(b); }

// Verified against the record's digest; attributes are set only then.
bool VerifyWritten(const Text& fullPath, const RecordHeader& record) {
    if (!SameDigest(md5OfFile(fullPath), record.md5)) return false;
    setAttributes(fullPath, static_cast<std::uint32_t>(record.attributes));
    return true;
}

// Writes a changed record; appends the outcome texts to the trace line.
bool WriteRecord(const Text& fullPath, const RecordHeader& record, const ByteBuffer& data, Text& line) {
    line += "，文件有变化，需要写入";
    bool written = false;
    if (writeWholeFile(fullPath, data)) {
        written = VerifyWritten(fullPath, record);
    } else {
        line += "，写入失败，尝试删除重写";
        setAttributes(fullPath, kAttributeArchive);
        if (!deletePath(fullPath)) forceRemove(fullPath);
        written = writeWholeFile(fullPath, data) && VerifyWritten(fullPath, record);
    }
    line += written ? "，写入成功。" : "，写入失败！！！";
    return written;
}

// Creates the folder; when that fails, clears whatever is there and tries once more.
bool PrepareFolder(const Text& folder) {
    if (isDirectory(folder) || EnsureDirectoryPath(folder)) return true;
    removeDirectoryTree(folder);
    return EnsureDirectoryPath(folder);
}

Text RelativeTo(const Text& fullPath, const Text& prefix) {
    std::size_t at = FindChars(LowerAscii(fullPath), LowerAscii(prefix));
    return at == 0 ? Text() : fullPath.substr(at - 1 + prefix.size());
}

ArchiveEntry BuildEntry(const Text& fullPath, const Text& relativePath) {
    ArchiveEntry entry;
    entry.path = relativePath;
    entry.fileSize = fileSizeOf(fullPath);
    entry.data = readWholeFile(fullPath);
    entry.attributes = getAttributes(fullPath);
    entry.md5 = Md5OfBytes(entry.data);
    return entry;
}

// Same path ignoring ASCII case: replaced in place when the digest differs.
void Merge(std::vector<ArchiveEntry>& entries, ArchiveEntry entry) {
    Text key = LowerAscii(entry.path);
    for (ArchiveEntry& existing : entries) {
        if (LowerAscii(existing.path) != key) continue;
        if (existing.md5 != entry.md5) existing = std::move(entry);
        return;
    }
    entries.push_back(std::move(entry));
}

struct ExtractOutputs {
    TextList* pathList;
    TextList* md5List;
    bool trace;
    const TraceSink& traceSink;
};

int ExtractPasses(ByteSpan payload, const Text& targetDirectory, const ExtractOutputs& out) {
    std::vector<bool> done;
    std::size_t doneCount = 0;
    for (int pass = 0;;) {
        // Reading consumes the archive, so every pass inflates it again.
        ArchiveCursor cursor(unpackEnvelope(payload.data, payload.size));
        std::int32_t count = cursor.readInt32();
        if (!RecordCountValid(count)) return 0;
        if (done.empty()) done.assign(static_cast<std::size_t>(count) + 1, false);

        for (std::int32_t i = 1; i <= count; ++i) {
            RecordHeader record = ReadHeader(cursor);
            if (cursor.failed()) return 0;  // a field the lengths ask for cannot be held
            Text fullPath = targetDirectory + record.path;
            Text line = out.trace ? "文件MD5：" + record.md5 : Text();
            if (out.pathList) {
                out.pathList->push_back(fullPath);
                if (out.md5List) out.md5List->push_back(record.md5);
            }
            if (done[i]) {
                cursor.drop(record.dataLength);
                continue;
            }
            bool finished = false;
            if (!IsSafeArchivePath(record.path)) {
                cursor.drop(record.dataLength);
                line += "，无效文件，跳过。";
                finished = true;
            } else {
                Text folder = directoryPart(fullPath);
                if (!isDirectory(folder)) EnsureDirectoryPath(folder);
                if (!PrepareFolder(targetDirectory)) return 0;
                if (pathExists(fullPath) && SameDigest(md5OfFile(fullPath), record.md5)) {
                    cursor.drop(record.dataLength);
                    line += "，文件无变化，跳过。";
                    finished = true;
                } else {
                    ByteBuffer data = cursor.takeBytes(record.dataLength);
                    if (cursor.failed()) return 0;
                    finished = WriteRecord(fullPath, record, data, line);
                }
            }
            if (finished) {
                done[i] = true;
                ++doneCount;
            }
            if (out.trace && out.traceSink) out.traceSink(fullPath, line);
        }
        if (doneCount == static_cast<std::size_t>(count)) return 1;
        if (++pass == kMaxPasses) return 0;
    }
}

}  // namespace

void PayloadArchive::destroy() {
    std::vector<ArchiveEntry>().swap(entries);
    Text().swap(baseDirectory);
}

std::unique_ptr<PayloadArchive> PayloadArchive::copy() const { return std::make_unique<PayloadArchive>(*this); }

void PayloadArchive::setBaseDirectory(const Text& folder) {
    baseDirectory = folder;
    if (!baseDirectory.empty() && baseDirectory.back() != '\\') baseDirectory += '\\';
}

void PayloadArchive::addDirectory(Text& folder) {
    folder = ForwardToBackslashes(folder);
    if (folder.empty() || folder.back() != '\\') folder += '\\';
    TextList files;
    collectFiles(folder, files);
    const Text& prefix = baseDirectory.empty() ? folder : baseDirectory;
    for (const Text& file : files) Merge(entries, BuildEntry(file, RelativeTo(file, prefix)));
}

void PayloadArchive::addFile(const Text& path) {
    Text relative = baseDirectory.empty() ? fileNamePart(path) : RelativeTo(path, baseDirectory);
    Merge(entries, BuildEntry(path, relative));
}

ByteBuffer PayloadArchive::dropFront(const ByteBuffer& bytes, std::int32_t n) const { return DropFront(bytes, n); }

ByteBuffer PayloadArchive::packArchive(const Text& password) const {
    if (!password.empty()) return ByteBuffer();  // no cipher: never pack in the clear
    ByteBuffer archive = WriteArchive(entries);
    if (archive.empty()) return ByteBuffer();
    return packEnvelope(archive);
}

ByteBuffer PayloadArchive::packBytes(const ByteBuffer& bytes, const Text& password) const {
    if (!password.empty()) return ByteBuffer();
    return packEnvelope(bytes);
}

bool PayloadArchive::saveArchive(const Text& path, const Text& password) const {
    ByteBuffer data = packArchive(password);
    if (data.empty()) return false;
    Text folder = directoryPart(path);
    // A bare file name is saved in the current folder.
    if (!folder.empty() && !PrepareFolder(folder)) return false;
    return writeWholeFile(path + ".ez", data);
}

ByteBuffer PayloadArchive::unpackBytes(const ByteBuffer& envelope, const Text& password) const {
    if (!password.empty()) return ByteBuffer();
    return unpackEnvelope(envelope);
}

int PayloadArchive::extractArchive(ByteSpan payload, Text& targetDirectory, const Text& password,
                                   TextList* pathList, TextList* md5List, bool trace, const TraceSink& traceSink) {
    // Nothing thrown below (memory running out, a sink that throws) leaves
    // the call: it is a failure result like any other.
    try {
        targetDirectory = NormaliseDirectory(targetDirectory);
        if (!password.empty()) return 0;  // no cipher: an enciphered archive cannot be read
        if (!isDirectory(targetDirectory)) EnsureDirectoryPath(targetDirectory);
        entries.clear();
        return ExtractPasses(payload, targetDirectory, {pathList, md5List, trace, traceSink});
    } catch (...) {
        return 0;
    }
}
