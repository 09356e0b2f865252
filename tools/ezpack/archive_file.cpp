#include "archive_file.h"

#include "payload/archive_check.h"
#include "payload/file_ops.h"

bool ReadArchive(PackedInput& input, LoadedArchive& archive, std::string& reason) {
    ArchiveVisitor visitor;
    visitor.record = [&](std::int32_t, RecordHeader& header) {
        archive.records.push_back(std::move(header));
        return true;
    };
    return CheckArchive(input, reason, visitor);
}

bool ReadArchiveBytes(ByteBuffer envelope, LoadedArchive& archive, std::string& reason) {
    SpanInput input(ByteSpan{envelope.data(), envelope.size()});
    archive.packedBytes = envelope.size();
    return ReadArchive(input, archive, reason);
}

bool LoadArchiveFile(const Text& path, FileInput& input, LoadedArchive& archive, std::string& reason) {
    if (!pathExists(path)) {
        reason = "missing";
        return false;
    }
    if (isDirectory(path)) {
        reason = "is a folder, not an archive";
        return false;
    }
    archive.packedBytes = input.size();
    if (input.failed()) {
        reason = "cannot be read";
        return false;
    }
    return ReadArchive(input, archive, reason);
}
