#include "payload/envelope.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "payload/byte_io.h"

ByteBuffer packEnvelope(const std::uint8_t* data, std::size_t length) {
    if (length > kMaxEnvelopeData) return ByteBuffer();
    const uLong bound = std::max<uLong>(length + length / 1000 + 1024, compressBound(static_cast<uLong>(length)));
    ByteBuffer out;
    if (!TryResize(out, kEnvelopeHeaderSize + (length == 0 ? 0 : bound))) return ByteBuffer();
    WriteLe32(out.data(), kEnvelopeTag);
    WriteLe32(out.data() + 4, static_cast<std::uint32_t>(length));
    if (length == 0) return out;

    uLongf packed = bound;
    if (compress2(out.data() + kEnvelopeHeaderSize, &packed, data, static_cast<uLong>(length), Z_DEFAULT_COMPRESSION) !=
        Z_OK)
        return ByteBuffer();
    out.resize(kEnvelopeHeaderSize + packed);
    // Give back the reserve when there is room to do so; keeping it is harmless.
    try {
        out.shrink_to_fit();
    } catch (const std::bad_alloc&) {
    }
    return out;
}

namespace {

constexpr std::size_t kSmallestInflateBuffer = 1 << 16;
// A first guess at what a stream inflates to, from its own length: an
// honest header is believed up to this ratio, a larger claim is grown into.
constexpr std::size_t kGuessedRatio = 4;

// Inflates one zlib stream into a buffer that grows as the stream really
// inflates, never past `cap`, so a header that claims a huge length costs
// nothing until the data is there. False on a zlib error, a stream cut
// short, one that would inflate past the cap, or when memory runs out.
bool InflateCapped(const std::uint8_t* stream, std::size_t length, std::size_t claimed, std::size_t cap,
                   ByteBuffer& out) {
    // One spare byte lets a stream of exactly the claimed length reach its end.
    const std::size_t guess =
        std::max(kSmallestInflateBuffer, length > SIZE_MAX / kGuessedRatio ? SIZE_MAX : length * kGuessedRatio);
    if (!TryResize(out, std::min({cap, claimed + 1, guess}))) return false;
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(stream);
    std::size_t inputLeft = length;
    std::size_t produced = 0;
    int rc = Z_OK;
    for (;;) {
        if (produced == out.size() && out.size() < cap && !TryResize(out, std::min(cap, out.size() * 2))) break;
        if (z.avail_in == 0 && inputLeft > 0) {
            z.avail_in = static_cast<uInt>(std::min<std::size_t>(inputLeft, UINT_MAX));
            inputLeft -= z.avail_in;
        }
        z.next_out = out.data() + produced;
        z.avail_out = static_cast<uInt>(std::min<std::size_t>(out.size() - produced, UINT_MAX));
        const uInt room = z.avail_out;
        rc = inflate(&z, Z_NO_FLUSH);
        produced += room - z.avail_out;
        // Z_BUF_ERROR: no progress, because the input ran out or the cap is reached.
        if (rc != Z_OK) break;
    }
    inflateEnd(&z);
    if (rc != Z_STREAM_END) return false;
    out.resize(produced);
    return true;
}

}  // namespace

ByteBuffer unpackEnvelope(const std::uint8_t* envelope, std::size_t length) {
    if (envelope == nullptr || length < kEnvelopeHeaderSize || ReadLe32(envelope) != kEnvelopeTag) return ByteBuffer();
    // 2·L in wrapping 32-bit arithmetic, read as signed: L = 0 and
    // L >= 0x40000000 both give a value that is not positive.
    const std::uint32_t twice = ReadLe32(envelope + 4) * 2u;
    if (static_cast<std::int32_t>(twice) <= 0) return ByteBuffer();

    ByteBuffer out;
    if (!InflateCapped(envelope + kEnvelopeHeaderSize, length - kEnvelopeHeaderSize, twice / 2, twice, out))
        return ByteBuffer();
    return out;
}

ByteSpan ContainerContents(const std::uint8_t* container, std::size_t length) {
    if (container == nullptr || length < 8 || ReadLe32(container) != 1) return ByteSpan();
    const std::uint32_t size = ReadLe32(container + 4);
    if (size > length - 8) return ByteSpan();
    return ByteSpan{container + 8, size};
}

ByteBuffer MakeContainer(const ByteBuffer& envelope) {
    // The length word holds 32 bits; only a 64-bit size can exceed it.
    if constexpr (sizeof(std::size_t) > 4) {
        if (envelope.size() > 0xFFFFFFFFu) return ByteBuffer();
    }
    ByteBuffer out;
    if (!TryResize(out, 8 + envelope.size())) return ByteBuffer();
    WriteLe32(out.data(), 1);
    WriteLe32(out.data() + 4, static_cast<std::uint32_t>(envelope.size()));
    if (!envelope.empty()) std::memcpy(out.data() + 8, envelope.data(), envelope.size());
    return out;
}
