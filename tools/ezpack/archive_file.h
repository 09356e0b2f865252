#pragma once
// Reading a .ez file for the tool: every way it can be wrong is told apart
// before anything is written. Nothing is held whole: the file is read and
// inflated through bounded windows.
#include <cstdint>
#include <string>
#include <vector>

#include "payload/archive_format.h"
#include "payload/packed_input.h"
#include "system/text.h"

// A record as listed: its path is cut at kMaxPathBytes when longer.
using RecordInfo = RecordHeader;

struct LoadedArchive {
    std::size_t packedBytes = 0;
    std::uint32_t inflatedLength = 0;
    std::vector<RecordInfo> records;
};

// False with a one-line reason: missing, not an envelope, bad tag, corrupt
// stream, bad record count, a record missing or cut short, or bytes after
// the last record. The input is the file,
// opened once: whatever the command does next reads the same bytes.
bool LoadArchiveFile(const Text& path, FileInput& input, LoadedArchive& archive, std::string& reason);
// The same checks on envelope bytes already in memory.
bool ReadArchiveBytes(ByteBuffer envelope, LoadedArchive& archive, std::string& reason);
// The same checks on any input, read through a bounded window; the input
// is rewound first and left at its end.
bool ReadArchive(PackedInput& input, LoadedArchive& archive, std::string& reason);
