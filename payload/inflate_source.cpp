#include "payload/inflate_source.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "payload/byte_io.h"

namespace {

constexpr std::size_t kInputChunk = 1 << 16;
constexpr std::size_t kWindow = 1 << 18;

}  // namespace

struct InflateSource::Stream {
    z_stream z{};
    bool initialised = false;
    ByteBuffer input;
    ByteBuffer window;
    ~Stream() {
        if (initialised) inflateEnd(&z);
    }
};

InflateSource::InflateSource(PackedInput& input) : input_(input) {
    std::uint8_t header[kEnvelopeHeaderSize];
    const std::size_t got = input_.read(header, sizeof header);
    // 2·L in wrapping 32-bit arithmetic must be positive, as for the one-call unpacking.
    const std::uint32_t twice = got == sizeof header ? ReadLe32(header + 4) * 2u : 0;
    if (got != sizeof header || ReadLe32(header) != kEnvelopeTag || static_cast<std::int32_t>(twice) <= 0) {
        failed_ = true;
        return;
    }
    cap_ = twice;
    stream_ = std::make_unique<Stream>();
    if (!TryResize(stream_->input, kInputChunk) || !TryResize(stream_->window, kWindow) ||
        inflateInit(&stream_->z) != Z_OK) {
        failed_ = true;
        return;
    }
    stream_->initialised = true;
}

InflateSource::~InflateSource() = default;

bool InflateSource::refill() {
    if (failed_ || ended_) return false;
    z_stream& z = stream_->z;
    position_ = filled_ = 0;
    while (filled_ == 0) {
        if (z.avail_in == 0) {
            const std::size_t got = input_.read(stream_->input.data(), stream_->input.size());
            if (got == 0) {  // the stream is cut short, or the input failed
                failed_ = true;
                return false;
            }
            z.next_in = stream_->input.data();
            z.avail_in = static_cast<uInt>(got);
        }
        z.next_out = stream_->window.data();
        z.avail_out = static_cast<uInt>(stream_->window.size());
        const int rc = inflate(&z, Z_NO_FLUSH);
        filled_ = stream_->window.size() - z.avail_out;
        produced_ += filled_;
        if (produced_ > cap_) {
            failed_ = true;
            filled_ = 0;
            return false;
        }
        if (rc == Z_STREAM_END) {
            ended_ = true;
            return filled_ > 0;
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            failed_ = true;
            filled_ = 0;
            return false;
        }
    }
    return true;
}

template <typename Take>
std::size_t InflateSource::consume(std::size_t length, Take take) {
    std::size_t done = 0;
    while (done < length) {
        if (position_ == filled_ && !refill()) break;
        const std::size_t n = std::min(length - done, filled_ - position_);
        take(stream_->window.data() + position_, done, n);
        position_ += n;
        done += n;
    }
    return done;
}

std::size_t InflateSource::read(std::uint8_t* out, std::size_t length) {
    return consume(length, [out](const std::uint8_t* from, std::size_t at, std::size_t n) {
        std::memcpy(out + at, from, n);
    });
}

std::size_t InflateSource::skip(std::size_t length) {
    return consume(length, [](const std::uint8_t*, std::size_t, std::size_t) {});
}

std::size_t InflateSource::remaining() const {
    const std::size_t buffered = filled_ - position_;
    if (failed_ || ended_) return buffered;
    const std::uint64_t bound = buffered + (cap_ - produced_);
    return bound > SIZE_MAX ? SIZE_MAX : static_cast<std::size_t>(bound);
}

bool PackedStreamUnpacks(PackedInput& input) {
    if (!input.rewind()) return false;
    InflateSource source(input);
    while (!source.failed() && !source.ended()) source.skip(kWindow);
    return source.ended() && !source.failed();
}
