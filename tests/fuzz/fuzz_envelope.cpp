// Fuzz target: a packed envelope as `ezpack list` reads it, then the same
// stream walked with the archive cursor. The two readers must agree on
// every archive the tool accepts, and what the writer makes of the records
// must read back as the same records.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "payload/archive_format.h"
#include "payload/byte_io.h"
#include "payload/envelope.h"
#include "tools/ezpack/archive_file.h"

namespace {

// The cursor's view of an inflated archive; empty when the count is invalid.
// An exhausted cursor only yields zero records, so the walk stops there.
std::vector<ArchiveEntry> CursorRecords(ByteBuffer inflated) {
    std::vector<ArchiveEntry> entries;
    ArchiveCursor cursor(std::move(inflated));
    const std::int32_t count = cursor.readInt32();
    if (!RecordCountValid(count)) return entries;
    for (std::int32_t i = 0; i < count && cursor.remaining() > 0; ++i) entries.push_back(cursor.readRecord());
    FuzzRequire(!cursor.failed(), "cursor could not hold a slice of an in-memory archive");
    return entries;
}

bool SameEntry(const ArchiveEntry& a, const ArchiveEntry& b) {
    return a.path == b.path && a.md5 == b.md5 && a.fileSize == b.fileSize && a.attributes == b.attributes &&
           a.data == b.data;
}

void CheckAgreement(const LoadedArchive& listed, const std::vector<ArchiveEntry>& entries) {
    FuzzRequire(listed.records.size() == entries.size(), "list and cursor count different records");
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const RecordInfo& info = listed.records[i];
        const ArchiveEntry& entry = entries[i];
        FuzzRequire(info.path == entry.path && info.md5 == entry.md5 && info.attributes == entry.attributes,
                    "list and cursor read a record differently");
        FuzzRequire(static_cast<std::size_t>(info.dataLength) == entry.data.size(),
                    "cursor returned other than the recorded data length");
    }
    ByteBuffer rewritten = WriteArchive(entries);
    FuzzRequire(!rewritten.empty(), "writer refused records it had just read");
    std::vector<ArchiveEntry> again = CursorRecords(rewritten);
    FuzzRequire(again.size() == entries.size() && std::equal(again.begin(), again.end(), entries.begin(), SameEntry),
                "rewritten records read back differently");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    LoadedArchive listed;
    std::string reason;
    const bool accepted = ReadArchiveBytes(ByteBuffer(data, data + size), listed, reason);
    FuzzRequire(accepted == reason.empty(), "a reason must be given exactly when the archive is refused");

    ByteBuffer inflated = unpackEnvelope(data, size);
    FuzzRequire(!accepted || !inflated.empty(), "list accepted an envelope that does not unpack");
    if (inflated.empty()) return 0;
    FuzzRequire(packEnvelope(inflated).size() > kEnvelopeHeaderSize, "unpacked data does not pack again");
    std::vector<ArchiveEntry> entries = CursorRecords(std::move(inflated));
    if (accepted) CheckAgreement(listed, entries);
    return 0;
}

#ifdef VANTEL_FUZZ_ENGINE
// Random changes to a zlib stream almost never inflate, so the records
// behind it would stay out of reach: half the mutations change what the
// stream inflates to and pack it again, now and then with a wrong length.
extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned int seed) {
    std::minstd_rand random(seed);
    constexpr std::uint32_t kMutatorInflateLimit = 1u << 20;  // the mutator itself stays small
    const bool inner = random() % 2 == 0 && size >= kEnvelopeHeaderSize && ReadLe32(data + 4) <= kMutatorInflateLimit;
    ByteBuffer inflated = inner ? unpackEnvelope(data, size) : ByteBuffer();
    if (inflated.empty()) return LLVMFuzzerMutate(data, size, maxSize);

    const std::size_t used = inflated.size();
    inflated.resize(std::max<std::size_t>(used * 2, 4096));
    inflated.resize(LLVMFuzzerMutate(inflated.data(), used, inflated.size()));
    ByteBuffer packed = packEnvelope(inflated);
    if (packed.empty() || packed.size() > maxSize) return LLVMFuzzerMutate(data, size, maxSize);
    if (random() % 8 == 0) {
        const std::uint32_t lengths[] = {0, static_cast<std::uint32_t>(inflated.size()) - 1, 0x3FFFFFFF, 0x40000000,
                                         static_cast<std::uint32_t>(random())};
        WriteLe32(packed.data() + 4, lengths[random() % 5]);
    }
    std::memcpy(data, packed.data(), packed.size());
    return packed.size();
}
#endif
