#include "payload/envelope.h"

#include <zlib.h>

#include <algorithm>
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

ByteBuffer unpackEnvelope(const std::uint8_t* envelope, std::size_t length) {
    if (envelope == nullptr || length < kEnvelopeHeaderSize || ReadLe32(envelope) != kEnvelopeTag) return ByteBuffer();
    // 2·L in wrapping 32-bit arithmetic, read as signed: L = 0 and
    // L >= 0x40000000 both give a value that is not positive.
    const std::uint32_t twice = ReadLe32(envelope + 4) * 2u;
    if (static_cast<std::int32_t>(twice) <= 0) return ByteBuffer();

    ByteBuffer out;
    if (!TryResize(out, twice)) return ByteBuffer();
    uLongf inflated = twice;
    if (uncompress(out.data(), &inflated, envelope + kEnvelopeHeaderSize,
                   static_cast<uLong>(length - kEnvelopeHeaderSize)) != Z_OK)
        return ByteBuffer();
    out.resize(inflated);
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
