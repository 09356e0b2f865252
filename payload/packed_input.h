#pragma once
// Where a packed envelope's bytes come from. Each extraction pass reads
// them again from the start, so an input can be rewound.
#include <cstddef>
#include <cstdint>

#include "payload/envelope.h"
#include "payload/file_ops.h"
#include "system/text.h"

class PackedInput {
public:
    virtual ~PackedInput() = default;
    // Copies up to `length` bytes and moves past them; 0 at the end or
    // when the input cannot be read (failed() then tells).
    virtual std::size_t read(std::uint8_t* out, std::size_t length) = 0;
    // Back to the first byte; false when that is not possible.
    virtual bool rewind() = 0;
    virtual bool failed() const { return false; }
};

// An envelope already in memory (the installer's image).
class SpanInput final : public PackedInput {
public:
    explicit SpanInput(ByteSpan span) : span_(span) {}
    std::size_t read(std::uint8_t* out, std::size_t length) override;
    bool rewind() override {
        position_ = 0;
        return true;
    }

private:
    ByteSpan span_;
    std::size_t position_ = 0;
};

// An envelope in a file, read in chunks through one handle kept for the
// whole run, so every pass reads what the check read. Rewinding refuses to
// go on once the file has changed (its identity, size or last write) or
// its path names another file: the check would no longer hold.
class FileInput final : public PackedInput {
public:
    explicit FileInput(const Text& path);
    std::size_t read(std::uint8_t* out, std::size_t length) override;
    bool rewind() override;
    bool failed() const override { return failed_; }
    std::size_t size() const { return size_; }
    // True while the file is the one opened, as it was then.
    bool unchanged() const;

private:
    Text path_;
    FileHandle file_;
    FileIdentity identity_;
    std::size_t size_ = 0;
    std::size_t position_ = 0;
    bool failed_ = false;
};
