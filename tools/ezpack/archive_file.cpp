#include "archive_file.h"

#include <cstdio>

#include "payload/archive_format.h"
#include "payload/envelope.h"
#include "payload/file_ops.h"

namespace {

std::uint32_t Word(const ByteBuffer& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(value));
    return text;
}

// Walks the records, checking that each one's declared lengths fit.
bool ReadRecords(ByteBuffer inflated, std::vector<RecordInfo>& records, std::string& reason) {
    ArchiveCursor cursor(std::move(inflated));
    std::int32_t count = cursor.readInt32();
    if (!RecordCountValid(count)) {
        reason = "bad record count " + std::to_string(count) + " (must be 1 to 99999)";
        return false;
    }
    for (std::int32_t i = 1; i <= count; ++i) {
        std::string where = "corrupt archive: record " + std::to_string(i) + " of " + std::to_string(count);
        if (cursor.remaining() < 16) {
            reason = where + " is missing";
            return false;
        }
        std::int32_t pathLength = cursor.readInt32();
        cursor.readInt32();
        std::int32_t dataLength = cursor.readInt32();
        std::int32_t attributesLength = cursor.readInt32();
        if (pathLength < 0 || dataLength < 0 || attributesLength < 0) {
            reason = where + " has a negative length";
            return false;
        }
        unsigned long long needed = 32ull + static_cast<unsigned>(pathLength) + static_cast<unsigned>(dataLength) +
                                    static_cast<unsigned>(attributesLength);
        if (needed > cursor.remaining()) {
            reason = where + " is cut short";
            return false;
        }
        RecordInfo record;
        record.path = cursor.takeText(pathLength);
        record.md5 = cursor.takeText(32);
        record.attributes = AttributeTextToInt(cursor.takeText(attributesLength));
        record.dataLength = dataLength;
        cursor.drop(dataLength);
        records.push_back(std::move(record));
    }
    return true;
}

}  // namespace

bool ReadArchiveBytes(ByteBuffer envelope, LoadedArchive& archive, std::string& reason) {
    archive.envelope = std::move(envelope);
    if (archive.envelope.size() < kEnvelopeHeaderSize) {
        reason = "not an envelope (" + std::to_string(archive.envelope.size()) + " bytes, fewer than 8)";
        return false;
    }
    std::uint32_t tag = Word(archive.envelope, 0);
    if (tag != kEnvelopeTag) {
        reason = "bad tag " + Hex(tag) + " (expected " + Hex(kEnvelopeTag) + ")";
        return false;
    }
    archive.inflatedLength = Word(archive.envelope, 4);
    if (archive.inflatedLength == 0) {
        reason = "bad record count 0 (the envelope holds no data)";
        return false;
    }
    ByteBuffer inflated = unpackEnvelope(archive.envelope);
    if (inflated.empty()) {
        reason = "corrupt stream (the data does not inflate)";
        return false;
    }
    return ReadRecords(std::move(inflated), archive.records, reason);
}

bool LoadArchiveFile(const Text& path, LoadedArchive& archive, std::string& reason) {
    if (!pathExists(path)) {
        reason = "missing";
        return false;
    }
    if (isDirectory(path)) {
        reason = "is a folder, not an archive";
        return false;
    }
    return ReadArchiveBytes(readWholeFile(path), archive, reason);
}
