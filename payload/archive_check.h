#pragma once
// The archive judged whole before anything is written: the envelope's
// header, the record count, every record complete, nothing after the last
// one, and a stream that inflates to its end without fault. What `ezpack
// list` reports, the installer's check and the extraction's survey all
// judge the same way.
#include <cstdint>
#include <functional>
#include <string>

#include "payload/archive_format.h"
#include "payload/inflate_source.h"
#include "payload/packed_input.h"

// Sees the count first, then each record's header in turn, before its
// data is read through (so a visitor may work while the stream inflates).
struct ArchiveVisitor {
    std::function<bool(std::int32_t count)> count;  // false stops the walk
    std::function<bool(std::int32_t number, RecordHeader& header)> record;
};

// Reads one record's header from the cursor over `source`. Empty when its
// fields are whole; otherwise what is wrong with it.
std::string ReadFramedHeader(ArchiveCursor& cursor, InflateSource& source, RecordHeader& header);
// Moves past the record's data. Empty when it is whole.
std::string SkipFramedData(InflateSource& source, std::int32_t dataLength);
// Empty when the stream ends right after the last record.
std::string FramingEnd(InflateSource& source);

// True when the archive is sound; otherwise `reason` says why in one line
// (e.g. "corrupt archive: record 2 of 99999 is missing"). The input is
// rewound first and left at its end. A visitor that stops the walk makes
// the result false with an empty reason.
bool CheckArchive(PackedInput& input, std::string& reason, const ArchiveVisitor& visitor = ArchiveVisitor());
