#pragma once
// Reading a .ez file for the tool: every way it can be wrong is told apart
// before anything is written.
#include <cstdint>
#include <string>
#include <vector>

#include "system/text.h"

struct RecordInfo {
    Text path;
    Text md5;
    std::int32_t dataLength = 0;
    std::int32_t attributes = 0;
};

struct LoadedArchive {
    ByteBuffer envelope;
    std::uint32_t inflatedLength = 0;
    std::vector<RecordInfo> records;
};

// False with a one-line reason: missing, not an envelope, bad tag, corrupt
// stream, bad record count, or a record cut short.
bool LoadArchiveFile(const Text& path, LoadedArchive& archive, std::string& reason);
// The same checks on envelope bytes already in memory (kept in archive.envelope).
bool ReadArchiveBytes(ByteBuffer envelope, LoadedArchive& archive, std::string& reason);
