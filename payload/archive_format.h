#pragma once
// The archive inside the envelope: a record count, then records of
// pathLength, fileSize, dataLength, attributesLength, path, 32-byte md5,
// decimal attribute text and data. All integers 32-bit little-endian.
#include <cstdint>
#include <memory>
#include <vector>

#include "payload/archive_entry.h"
#include "system/text.h"

constexpr std::int32_t kMaxRecordCount = 99999;
constexpr std::size_t kMd5TextLength = 32;
// The ANSI file functions take paths shorter than this (MAX_PATH): a
// longer path can never be written, so no more of it is ever held.
constexpr std::size_t kMaxPathBytes = 260;

// Where a cursor's bytes come from, front to back. The whole-buffer source
// below is what the reader uses today; a streaming inflater can stand in
// for it without changing the cursor.
class ArchiveSource {
public:
    virtual ~ArchiveSource() = default;
    // Copies up to `length` bytes into `out` and moves past them; fewer
    // only when the source runs out. Returns the count copied.
    virtual std::size_t read(std::uint8_t* out, std::size_t length) = 0;
    // Moves past up to `length` bytes without copying them.
    virtual std::size_t skip(std::size_t length) = 0;
    // Bytes left: exact for a buffer; a stream may answer an upper bound.
    virtual std::size_t remaining() const = 0;
};

// The whole inflated archive in memory; reading advances a position.
class MemorySource final : public ArchiveSource {
public:
    explicit MemorySource(ByteBuffer bytes) : bytes_(std::move(bytes)) {}
    std::size_t read(std::uint8_t* out, std::size_t length) override;
    std::size_t skip(std::size_t length) override;
    std::size_t remaining() const override { return bytes_.size() - position_; }

private:
    ByteBuffer bytes_;
    std::size_t position_ = 0;
};

// One record's fields before its data; the data stays in the source until
// the reader asks for it.
struct RecordHeader {
    Text path;  // at most kMaxPathBytes: a longer one is cut there
    std::int32_t pathLength = 0;  // as recorded
    bool pathCut = false;
    Text md5;
    std::int32_t fileSize = 0;
    std::int32_t attributes = 0;
    std::int32_t dataLength = 0;
};

// Reading cursor: every read is total. It advances a position over its
// source and never moves or copies what remains.
class ArchiveCursor {
public:
    explicit ArchiveCursor(ByteBuffer bytes);
    explicit ArchiveCursor(std::unique_ptr<ArchiveSource> source);

    // Fewer than 4 bytes left: the rest is padded with zeros.
    std::int32_t readInt32();
    // At most what remains; a negative length takes and drops nothing.
    // The slice grows with what the source really holds, so a length word
    // that promises more costs nothing. When it cannot be allocated the
    // result is empty, the cursor still moves past it and failed() becomes true.
    ByteBuffer takeBytes(std::int32_t length);
    // A slice read as text ends at its first NUL; the cursor still advances by length.
    Text takeText(std::int32_t length);
    // A text of which at most `keep` bytes are held: the rest is read
    // through. `cut` tells that the text went on past them.
    Text takeTextHead(std::int32_t length, std::size_t keep, bool& cut);
    // An attribute text read through as it comes (AttributeTextToInt).
    std::int32_t takeAttributeWord(std::int32_t length);
    // Clamped like a slice; a negative length drops nothing.
    void drop(std::int32_t length);
    std::size_t remaining() const;

    // Reads one record's fields in order (a missing record reads as zeros).
    ArchiveEntry readRecord();
    // The same fields without the data, which is left for takeBytes or drop.
    RecordHeader readHeader();

    // True once an allocation the recorded lengths asked for could not be
    // made; the fields read since then may be empty.
    bool failed() const { return failed_; }

private:
    std::unique_ptr<ArchiveSource> source_;
    bool failed_ = false;
};

// The record count must be from 1 to 99,999.
bool RecordCountValid(std::int32_t count);
// Decimal attribute text to the attribute word: leading blanks and one
// sign are allowed, the digits up to the first non-digit count, and the
// value is taken modulo 2^32 so that every word written as unsigned
// decimal reads back ("4294967295" is -1). No digits at all reads 0.
std::int32_t AttributeTextToInt(const Text& text);

// The same reading, fed piece by piece: a text of any length costs nothing.
class AttributeReader {
public:
    // False once the rest of the text cannot change the word.
    bool feed(const std::uint8_t* bytes, std::size_t length);
    std::int32_t word() const;

private:
    enum class Step { Blanks, Digits, Done };
    Step step_ = Step::Blanks;
    bool negative_ = false;
    std::uint32_t value_ = 0;  // unsigned: wraps instead of overflowing
};
// The attribute word as the writer stores it: unsigned decimal, e.g. "524320".
Text AttributeIntToText(std::int32_t attributes);
// Serialises the entries; empty buffer when it cannot be allocated or a
// path or data length does not fit its 32-bit length word. An md5 text of
// other than 32 bytes is cut or padded with NULs to keep the layout.
ByteBuffer WriteArchive(const std::vector<ArchiveEntry>& entries);

// The bytes without their first n, clamped like the cursor (a negative n
// drops nothing, n beyond the end leaves nothing). Moves the rest: for
// single calls, not for walking an archive (use ArchiveCursor).
ByteBuffer DropFront(ByteBuffer bytes, std::int32_t n);
