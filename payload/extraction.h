#pragma once
// The extraction passes behind PayloadArchive::extractArchive. One thread
// inflates and parses the archive; the calling thread does all file work
// (change detection, writing, read-back), fed through a bounded queue.
#include <functional>
#include <vector>

#include "payload/archive_format.h"
#include "payload/extract_failure.h"
#include "payload/packed_input.h"
#include "payload/target_tree.h"
#include "system/text.h"

// Receives the full path and the trace line of each record handled.
using TraceSink = std::function<void(const Text& fullPath, const Text& line)>;

// The records' headers as a check read them (slot 0 unused), kept while
// they cost at most a few megabytes: with them an extraction judges the
// target before it inflates anything, and inflates only as far as the
// last record that needs its data.
struct CheckedHeaders {
    std::vector<RecordHeader> headers;
    std::size_t cost = 0;
    bool whole = true;  // false once they no longer fit; `headers` is then empty
    void keep(std::int32_t number, const RecordHeader& header);
};

struct ExtractOutputs {
    TextList* pathList = nullptr;
    TextList* md5List = nullptr;  // filled only with pathList
    bool trace = false;
    TraceSink traceSink;
    ExtractFailure* failure = nullptr;  // why the call returned 0
    RootPath targetPath = RootPath::Strict;
    const CheckedHeaders* checked = nullptr;  // the caller's check of the stream, when it kept them
};

// The target ends with "\" and has been created if it could be. 1 when
// every record is finished, 0 otherwise. Unless the caller already knows
// the stream unpacks, it is inflated once first, so a damaged stream
// writes nothing, and the room the records need is compared with the
// target volume's free space before anything is made.
int ExtractPasses(PackedInput& input, const Text& target, const ExtractOutputs& out, bool streamChecked);

// Makes the folder and the missing levels of its path, each relative to
// the one above, never through a link (RootPath::Strict); a link on the
// way makes nothing and is named in `failure`.
bool MakeTargetFolder(const Text& folder, ExtractFailure& failure);

// Creates the folder; when that fails, clears whatever is there and tries once more.
bool PrepareFolder(const Text& folder);
