#pragma once
// Room for an install, judged before anything is written.
#include <cstdint>
#include <vector>

#include "system/text.h"

// The free bytes the calling user may take on the volume of `path`'s
// deepest existing folder (the path itself need not exist yet); false
// when no folder of it exists or the system cannot tell.
bool FreeSpaceFor(const Text& path, std::uint64_t& available);
// The free bytes of an existing folder's volume.
bool VolumeFreeBytes(const Text& folder, std::uint64_t& available);

// Whether the last failed write of this thread found its volume full.
bool LastErrorIsDiskFull();

// A record as the space check needs it.
struct RecordSize {
    Text path;  // relative, "\" separators
    std::uint64_t length = 0;
};
// What an install into `target` adds at least: the sizes of the records
// whose file is missing there or has another size.
std::uint64_t BytesToAdd(const std::vector<RecordSize>& records, const Text& target);
