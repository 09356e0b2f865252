#pragma once
// The archive inside the envelope: a record count, then records of
// pathLength, fileSize, dataLength, attributesLength, path, 32-byte md5,
// decimal attribute text and data. All integers 32-bit little-endian.
#include <cstdint>
#include <vector>

#include "payload/archive_entry.h"
#include "system/text.h"

constexpr std::int32_t kMaxRecordCount = 99999;

// Reading cursor: every read is total. It advances a position over its
// bytes and never moves or copies what remains.
class ArchiveCursor {
public:
    explicit ArchiveCursor(ByteBuffer bytes);

    // Fewer than 4 bytes left: the rest is padded with zeros.
    std::int32_t readInt32();
    // At most what remains; a negative length takes and drops nothing.
    ByteBuffer takeBytes(std::int32_t length);
    // A slice read as text ends at its first NUL; the cursor still advances by length.
    Text takeText(std::int32_t length);
    void drop(std::int32_t length);
    std::size_t remaining() const;

    // Reads one record's fields in order (a missing record reads as zeros).
    ArchiveEntry readRecord();

private:
    ByteBuffer bytes_;
    std::size_t position_ = 0;
};

bool RecordCountValid(std::int32_t count);
// Decimal attribute text to a number; 0 when it holds no number.
std::int32_t AttributeTextToInt(const Text& text);
// Serialises the entries; empty buffer when it cannot be allocated.
ByteBuffer WriteArchive(const std::vector<ArchiveEntry>& entries);
