#include "payload/archive_check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "payload/byte_io.h"
#include "payload/envelope.h"

namespace {

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(value));
    return text;
}

const char kCorrupt[] = "corrupt stream (the data does not inflate)";

// The input with its first bytes, already read, handed out again first.
class ReplayedInput final : public PackedInput {
public:
    ReplayedInput(const std::uint8_t* head, std::size_t length, PackedInput& rest)
        : head_(head), length_(length), rest_(rest) {}
    std::size_t read(std::uint8_t* out, std::size_t length) override {
        if (given_ == length_) return rest_.read(out, length);
        const std::size_t n = std::min(length, length_ - given_);
        std::memcpy(out, head_ + given_, n);
        given_ += n;
        return n;
    }
    bool rewind() override { return false; }
    bool failed() const override { return rest_.failed(); }

private:
    const std::uint8_t* head_;
    std::size_t length_;
    PackedInput& rest_;
    std::size_t given_ = 0;
};

// The envelope's own header, told apart before the stream is inflated.
bool CheckEnvelopeHeader(const std::uint8_t* header, std::size_t got, std::string& reason) {
    if (got < kEnvelopeHeaderSize) {
        reason = "not an envelope (" + std::to_string(got) + " bytes, fewer than 8)";
        return false;
    }
    const std::uint32_t tag = ReadLe32(header);
    if (tag != kEnvelopeTag) {
        reason = "bad tag " + Hex(tag) + " (expected " + Hex(kEnvelopeTag) + ")";
        return false;
    }
    if (ReadLe32(header + 4) == 0) {
        reason = "bad record count 0 (the envelope holds no data)";
        return false;
    }
    return true;
}

}  // namespace

std::string ReadFramedHeader(ArchiveCursor& cursor, InflateSource& source, RecordHeader& header) {
    std::uint8_t words[16];
    if (source.read(words, sizeof words) < sizeof words) return "is missing";
    const auto pathLength = static_cast<std::int32_t>(ReadLe32(words));
    const auto dataLength = static_cast<std::int32_t>(ReadLe32(words + 8));
    const auto attributesLength = static_cast<std::int32_t>(ReadLe32(words + 12));
    if (pathLength < 0 || dataLength < 0 || attributesLength < 0) return "has a negative length";
    header = RecordHeader();
    header.fileSize = static_cast<std::int32_t>(ReadLe32(words + 4));
    header.dataLength = dataLength;
    header.pathLength = pathLength;
    // A path longer than any the file system takes is read through, not held.
    const std::uint64_t start = source.consumed();
    header.path = cursor.takeTextHead(pathLength, kMaxPathBytes, header.pathCut);
    header.md5 = cursor.takeText(static_cast<std::int32_t>(kMd5TextLength));
    header.attributes = cursor.takeAttributeWord(attributesLength);
    if (cursor.failed()) return "is too large to read";
    const std::uint64_t fields = kMd5TextLength + static_cast<std::uint64_t>(pathLength) + attributesLength;
    return source.consumed() - start < fields ? "is cut short" : std::string();
}

std::string SkipFramedData(InflateSource& source, std::int32_t dataLength) {
    const auto length = static_cast<std::size_t>(dataLength);
    return source.skip(length) < length ? "is cut short" : std::string();
}

std::string FramingEnd(InflateSource& source) {
    std::uint8_t byte;
    if (source.read(&byte, 1) == 0) return std::string();
    std::uint64_t extra = 1;
    for (std::size_t got; (got = source.skip(1 << 20)) > 0;) extra += got;
    return std::to_string(extra) + " bytes follow the last record";
}

bool CheckArchive(PackedInput& input, std::string& reason, const ArchiveVisitor& visitor) {
    reason.clear();
    if (!input.rewind()) {
        reason = "cannot be read";
        return false;
    }
    std::uint8_t header[kEnvelopeHeaderSize];
    const std::size_t got = input.read(header, sizeof header);
    if (!CheckEnvelopeHeader(header, got, reason)) return false;
    ReplayedInput replayed(header, got, input);
    auto owned = std::make_unique<InflateSource>(replayed);
    InflateSource& source = *owned;
    ArchiveCursor cursor(std::move(owned));
    // A fault of the stream itself explains whatever it made look wrong.
    auto broken = [&](const std::string& what) {
        reason = source.failed() ? kCorrupt : what;
        return false;
    };
    const std::int32_t count = cursor.readInt32();
    if (!RecordCountValid(count)) return broken("bad record count " + std::to_string(count) + " (must be 1 to 99999)");
    if (visitor.count && !visitor.count(count)) return false;
    const std::string of = " of " + std::to_string(count);
    for (std::int32_t i = 1; i <= count; ++i) {
        RecordHeader header;
        std::string wrong = ReadFramedHeader(cursor, source, header);
        const std::int32_t dataLength = header.dataLength;
        if (wrong.empty() && visitor.record && !visitor.record(i, header)) return false;
        if (wrong.empty()) wrong = SkipFramedData(source, dataLength);
        if (!wrong.empty()) return broken("corrupt archive: record " + std::to_string(i) + of + " " + wrong);
    }
    const std::string trailing = FramingEnd(source);
    if (!trailing.empty()) return broken("corrupt archive: " + trailing + " (record " + std::to_string(count) + of + ")");
    if (source.failed() || !source.ended()) return broken(kCorrupt);
    return true;
}
