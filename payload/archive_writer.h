#pragma once
// Packs files into an envelope file without holding them: each file is
// hashed, then streamed through deflate into the output. The bytes are
// those of packArchive (one-call compression at the default level).
#include <string>
#include <vector>

#include "system/text.h"

struct PackSource {
    Text fullPath;      // where the file is read from
    Text relativePath;  // the record's path
};

struct PackSummary {
    unsigned long long inflatedBytes = 0;  // the archive inside the envelope
    unsigned long long dataBytes = 0;      // the files' bytes
    unsigned long long packedBytes = 0;    // the envelope written
};

// Writes the envelope of the files' archive to outPath. False with a
// one-line reason and the path it concerns (a file that cannot be read or
// changed while packing, an archive over the envelope's limit, or an
// output that cannot be written).
bool PackFilesToEnvelope(const std::vector<PackSource>& files, const Text& outPath, PackSummary& summary,
                         Text& offender, std::string& reason);
