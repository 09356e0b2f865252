#include "archive_file.h"

#include <cstdio>

#include <memory>

#include "payload/archive_format.h"
#include "payload/archive_path.h"
#include "payload/byte_io.h"
#include "payload/inflate_source.h"
#include "payload/envelope.h"
#include "payload/file_ops.h"

namespace {

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(value));
    return text;
}

const char kCorrupt[] = "corrupt stream (the data does not inflate)";

// Walks the records through the inflating window, checking that each
// one's declared lengths fit; then the stream must end where it should.
bool ReadRecords(PackedInput& input, std::vector<RecordInfo>& records, std::string& reason) {
    auto owned = std::make_unique<InflateSource>(input);
    InflateSource& source = *owned;
    ArchiveCursor cursor(std::move(owned));
    auto broken = [&](const std::string& what) {
        reason = source.failed() ? kCorrupt : what;
        return false;
    };
    std::int32_t count = cursor.readInt32();
    if (!RecordCountValid(count)) return broken("bad record count " + std::to_string(count) + " (must be 1 to 99999)");
    for (std::int32_t i = 1; i <= count; ++i) {
        std::string where = "corrupt archive: record " + std::to_string(i) + " of " + std::to_string(count);
        std::uint8_t words[16];
        if (source.read(words, sizeof words) < sizeof words) return broken(where + " is missing");
        const auto pathLength = static_cast<std::int32_t>(ReadLe32(words));
        const auto dataLength = static_cast<std::int32_t>(ReadLe32(words + 8));
        const auto attributesLength = static_cast<std::int32_t>(ReadLe32(words + 12));
        if (pathLength < 0 || dataLength < 0 || attributesLength < 0) return broken(where + " has a negative length");
        RecordInfo record;
        // A path longer than any the file system takes is read through, not held.
        const std::uint64_t start = source.consumed();
        record.path = cursor.takeTextHead(pathLength, kMaxPathBytes, record.pathCut);
        record.pathLength = pathLength;
        record.md5 = cursor.takeText(32);
        record.attributes = cursor.takeAttributeWord(attributesLength);
        if (cursor.failed()) return broken(where + " is too large to read");
        if (source.consumed() - start < 32ull + static_cast<std::uint64_t>(pathLength) + attributesLength ||
            source.skip(static_cast<std::size_t>(dataLength)) < static_cast<std::size_t>(dataLength))
            return broken(where + " is cut short");
        record.dataLength = dataLength;
        records.push_back(std::move(record));
    }
    while (!source.failed() && !source.ended()) source.skip(1 << 20);
    if (source.failed()) return broken("");
    return true;
}

bool ReadHeader(PackedInput& input, LoadedArchive& archive, std::string& reason) {
    std::uint8_t header[kEnvelopeHeaderSize];
    const std::size_t got = input.read(header, sizeof header);
    if (got < kEnvelopeHeaderSize) {
        reason = "not an envelope (" + std::to_string(got) + " bytes, fewer than 8)";
        return false;
    }
    const std::uint32_t tag = ReadLe32(header);
    if (tag != kEnvelopeTag) {
        reason = "bad tag " + Hex(tag) + " (expected " + Hex(kEnvelopeTag) + ")";
        return false;
    }
    archive.inflatedLength = ReadLe32(header + 4);
    if (archive.inflatedLength == 0) {
        reason = "bad record count 0 (the envelope holds no data)";
        return false;
    }
    return input.rewind();
}

}  // namespace

bool ReadArchive(PackedInput& input, LoadedArchive& archive, std::string& reason) {
    if (!input.rewind() || !ReadHeader(input, archive, reason)) {
        if (reason.empty()) reason = "cannot be read";
        return false;
    }
    return ReadRecords(input, archive.records, reason);
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
