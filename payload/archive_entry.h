#pragma once
// One file of an archive: relative path, digest, size, bytes, attributes.
#include <cstdint>

#include "system/text.h"

struct ArchiveEntry {
    Text path;                    // relative, "\" separators, GBK
    Text md5;                     // 32 hex digits of data
    std::int32_t fileSize = 0;    // low 32 bits of the source size, -1 when missing
    ByteBuffer data;
    std::int32_t attributes = 0;  // Windows file-attribute word
};
