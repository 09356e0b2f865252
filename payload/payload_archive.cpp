#include "payload/payload_archive.h"

#include "payload/archive_format.h"
#include "payload/extraction.h"
#include "payload/file_ops.h"
#include "payload/md5.h"
#include "process/directory.h"

namespace {

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
    Text folder = fileFolderPart(path);
    // A bare file name is saved in the current folder.
    if (!folder.empty() && !PrepareFolder(folder)) return false;
    return writeWholeFile(path + ".ez", data);
}

ByteBuffer PayloadArchive::unpackBytes(const ByteBuffer& envelope, const Text& password) const {
    if (!password.empty()) return ByteBuffer();
    return unpackEnvelope(envelope);
}

int PayloadArchive::extractArchive(PackedInput& payload, Text& targetDirectory, const Text& password,
                                   TextList* pathList, TextList* md5List, bool trace, const TraceSink& traceSink,
                                   bool payloadChecked) {
    // Nothing thrown below (memory running out, a sink that throws) leaves
    // the call: it is a failure result like any other.
    failure = ExtractFailure();
    failure.cause = FailureCause::Other;
    try {
        targetDirectory = NormaliseDirectory(targetDirectory);
        if (!password.empty()) return 0;  // no cipher: an enciphered archive cannot be read
        entries.clear();
        return ExtractPasses(payload, targetDirectory, {pathList, md5List, trace, traceSink, &failure, targetPath, checkedHeaders},
                             payloadChecked);
    } catch (...) {
        if (failure.cause == FailureCause::None) failure.cause = FailureCause::Other;
        return 0;
    }
}

int PayloadArchive::extractArchive(ByteSpan payload, Text& targetDirectory, const Text& password,
                                   TextList* pathList, TextList* md5List, bool trace, const TraceSink& traceSink,
                                   bool payloadChecked) {
    SpanInput input(payload);
    return extractArchive(input, targetDirectory, password, pathList, md5List, trace, traceSink, payloadChecked);
}
