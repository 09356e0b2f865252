#include "payload/archive_format.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "payload/byte_io.h"

std::size_t MemorySource::read(std::uint8_t* out, std::size_t length) {
    const std::size_t n = std::min(length, remaining());
    if (n > 0) std::memcpy(out, bytes_.data() + position_, n);
    position_ += n;
    return n;
}

std::size_t MemorySource::skip(std::size_t length) {
    const std::size_t n = std::min(length, remaining());
    position_ += n;
    return n;
}

ArchiveCursor::ArchiveCursor(ByteBuffer bytes) : source_(std::make_unique<MemorySource>(std::move(bytes))) {}

ArchiveCursor::ArchiveCursor(std::unique_ptr<ArchiveSource> source) : source_(std::move(source)) {
    if (!source_) source_ = std::make_unique<MemorySource>(ByteBuffer());
}

std::int32_t ArchiveCursor::readInt32() {
    std::uint8_t word[4] = {0, 0, 0, 0};
    source_->read(word, sizeof word);
    return static_cast<std::int32_t>(ReadLe32(word));
}

ByteBuffer ArchiveCursor::takeBytes(std::int32_t length) {
    if (length <= 0) return ByteBuffer();
    const std::size_t wanted = static_cast<std::size_t>(length);
    // Grown by doubling from a small first step: allocation follows the bytes read.
    constexpr std::size_t kFirstStep = 1 << 16;
    ByteBuffer slice;
    while (slice.size() < wanted) {
        const std::size_t have = slice.size();
        const std::size_t step = std::min({wanted - have, std::max(kFirstStep, have), source_->remaining()});
        if (step == 0) break;
        if (!TryResize(slice, have + step)) {
            failed_ = true;
            source_->skip(wanted - have);
            return ByteBuffer();
        }
        const std::size_t got = source_->read(slice.data() + have, step);
        slice.resize(have + got);
        if (got < step) break;
    }
    if (slice.size() < wanted) source_->skip(wanted - slice.size());  // a stream may have promised more
    return slice;
}

Text ArchiveCursor::takeText(std::int32_t length) {
    ByteBuffer bytes = takeBytes(length);
    try {
        return TextFromBytes(bytes);
    } catch (const std::bad_alloc&) {
        failed_ = true;
        return Text();
    }
}

Text ArchiveCursor::takeTextHead(std::int32_t length, std::size_t keep, bool& cut) {
    cut = false;
    if (length <= 0) return Text();
    const std::size_t wanted = static_cast<std::size_t>(length);
    if (wanted <= keep) return takeText(length);
    Text head = takeText(static_cast<std::int32_t>(keep));
    cut = head.size() == keep;  // no NUL ended it within what is held
    source_->skip(wanted - keep);
    return head;
}

std::int32_t ArchiveCursor::takeAttributeWord(std::int32_t length) {
    AttributeReader reader;
    std::uint8_t chunk[4096];
    for (std::size_t left = length > 0 ? static_cast<std::size_t>(length) : 0; left > 0;) {
        const std::size_t got = source_->read(chunk, std::min(left, sizeof chunk));
        left -= got;
        if (got == 0 || !reader.feed(chunk, got)) {
            source_->skip(left);
            break;
        }
    }
    return reader.word();
}

void ArchiveCursor::drop(std::int32_t length) {
    if (length > 0) source_->skip(static_cast<std::size_t>(length));
}

std::size_t ArchiveCursor::remaining() const { return source_->remaining(); }

RecordHeader ArchiveCursor::readHeader() {
    RecordHeader header;
    const std::int32_t pathLength = readInt32();
    header.fileSize = readInt32();
    header.dataLength = readInt32();
    const std::int32_t attributesLength = readInt32();
    header.pathLength = pathLength;
    header.path = takeTextHead(pathLength, kMaxPathBytes, header.pathCut);
    header.md5 = takeText(static_cast<std::int32_t>(kMd5TextLength));
    header.attributes = takeAttributeWord(attributesLength);
    return header;
}

ArchiveEntry ArchiveCursor::readRecord() {
    RecordHeader header = readHeader();
    ArchiveEntry entry;
    entry.path = std::move(header.path);
    entry.md5 = std::move(header.md5);
    entry.fileSize = header.fileSize;
    entry.attributes = header.attributes;
    entry.data = takeBytes(header.dataLength);
    return entry;
}

bool RecordCountValid(std::int32_t count) { return count >= 1 && count <= kMaxRecordCount; }

bool AttributeReader::feed(const std::uint8_t* bytes, std::size_t length) {
    for (std::size_t i = 0; i < length && step_ != Step::Done; ++i) {
        const std::uint8_t c = bytes[i];
        if (step_ == Step::Blanks && (c == ' ' || c == '\t')) continue;
        if (step_ == Step::Blanks && (c == '+' || c == '-')) {
            negative_ = c == '-';
            step_ = Step::Digits;
            continue;
        }
        if (c < '0' || c > '9') {  // a NUL ends the text too
            step_ = Step::Done;
            break;
        }
        step_ = Step::Digits;
        value_ = value_ * 10u + static_cast<std::uint32_t>(c - '0');
    }
    return step_ != Step::Done;
}

std::int32_t AttributeReader::word() const { return static_cast<std::int32_t>(negative_ ? 0u - value_ : value_); }

std::int32_t AttributeTextToInt(const Text& text) {
    AttributeReader reader;
    reader.feed(reinterpret_cast<const std::uint8_t*>(text.data()), TextLength(text));
    return reader.word();
}

Text AttributeIntToText(std::int32_t attributes) { return std::to_string(static_cast<std::uint32_t>(attributes)); }

namespace {

constexpr std::size_t kRecordHeaderSize = 16;
constexpr std::uint64_t kMaxLengthWord = 0x7FFFFFFF;

std::uint8_t* PutWord(std::uint8_t* out, std::uint32_t value) {
    WriteLe32(out, value);
    return out + 4;
}

std::uint8_t* PutBytes(std::uint8_t* out, const void* bytes, std::size_t length) {
    if (length > 0) std::memcpy(out, bytes, length);
    return out + length;
}

}  // namespace

ByteBuffer WriteArchive(const std::vector<ArchiveEntry>& entries) {
    if (entries.size() > kMaxLengthWord) return ByteBuffer();
    std::vector<Text> attributeTexts;
    attributeTexts.reserve(entries.size());
    std::uint64_t total = 4;
    for (const ArchiveEntry& entry : entries) {
        if (entry.path.size() > kMaxLengthWord || entry.data.size() > kMaxLengthWord) return ByteBuffer();
        attributeTexts.push_back(AttributeIntToText(entry.attributes));
        total += kRecordHeaderSize + entry.path.size() + kMd5TextLength + attributeTexts.back().size() +
                 entry.data.size();
    }
    ByteBuffer out;
    if (total > SIZE_MAX || !TryResize(out, static_cast<std::size_t>(total))) return ByteBuffer();

    std::uint8_t* p = PutWord(out.data(), static_cast<std::uint32_t>(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ArchiveEntry& entry = entries[i];
        const Text& attributes = attributeTexts[i];
        p = PutWord(p, static_cast<std::uint32_t>(entry.path.size()));
        p = PutWord(p, static_cast<std::uint32_t>(entry.fileSize));
        p = PutWord(p, static_cast<std::uint32_t>(entry.data.size()));
        p = PutWord(p, static_cast<std::uint32_t>(attributes.size()));
        p = PutBytes(p, entry.path.data(), entry.path.size());
        // The buffer is zero-filled, so a short digest leaves NUL padding.
        p = PutBytes(p, entry.md5.data(), std::min(entry.md5.size(), kMd5TextLength)) +
            (kMd5TextLength - std::min(entry.md5.size(), kMd5TextLength));
        p = PutBytes(p, attributes.data(), attributes.size());
        p = PutBytes(p, entry.data.data(), entry.data.size());
    }
    return out;
}

ByteBuffer DropFront(ByteBuffer bytes, std::int32_t n) {
    if (n <= 0) return bytes;
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(n, bytes.size())));
    return bytes;
}
