#pragma once
// The inflated archive as a stream for the cursor: one zlib stream read
// through a bounded window, never held whole. Like the one-call unpacking
// it stands in for, the stream must end within twice the length its
// envelope records; inflating past that is an error.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "payload/archive_format.h"
#include "payload/packed_input.h"

class InflateSource final : public ArchiveSource {
public:
    // Reads the envelope header from the input's current position.
    explicit InflateSource(PackedInput& input);
    ~InflateSource() override;
    InflateSource(const InflateSource&) = delete;
    InflateSource& operator=(const InflateSource&) = delete;

    std::size_t read(std::uint8_t* out, std::size_t length) override;
    std::size_t skip(std::size_t length) override;
    // An upper bound until the stream has ended.
    std::size_t remaining() const override;

    // The header was wrong, the stream is damaged, cut short or inflates
    // past its cap, or the input could not be read.
    bool failed() const { return failed_; }
    // The whole stream was inflated and ended where it should.
    bool ended() const { return ended_; }
    // Bytes read or skipped so far.
    std::uint64_t consumed() const { return produced_ - (filled_ - position_); }

private:
    bool refill();
    template <typename Take>
    std::size_t consume(std::size_t length, Take take);

    struct Stream;
    PackedInput& input_;
    std::unique_ptr<Stream> stream_;
    std::uint64_t cap_ = 0;
    std::uint64_t produced_ = 0;
    std::size_t position_ = 0;  // in the window
    std::size_t filled_ = 0;
    bool failed_ = false;
    bool ended_ = false;
};

// Inflates the whole envelope without keeping it: true when its header is
// right and its stream ends within the cap. The input is rewound first.
bool PackedStreamUnpacks(PackedInput& input);
