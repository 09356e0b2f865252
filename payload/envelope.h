#pragma once
// The packed envelope: tag, uncompressed length, one zlib stream.
#include <cstddef>
#include <cstdint>

#include "system/text.h"

constexpr std::uint32_t kEnvelopeTag = 0x033E0F0D;

// Empty on failure; the envelope of empty data is the 8-byte header alone.
ByteBuffer packEnvelope(const std::uint8_t* data, std::size_t length);
inline ByteBuffer packEnvelope(const ByteBuffer& data) { return packEnvelope(data.data(), data.size()); }

// Empty on any failure (short, wrong tag, bad length, zlib error, no memory).
ByteBuffer unpackEnvelope(const std::uint8_t* envelope, std::size_t length);
inline ByteBuffer unpackEnvelope(const ByteBuffer& envelope) {
    return unpackEnvelope(envelope.data(), envelope.size());
}

// The container in the image: dimension count 1, byte length, envelope.
struct ByteSpan {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};
// The envelope inside a container; empty span when the header is wrong.
ByteSpan ContainerContents(const std::uint8_t* container, std::size_t length);
// A container around the given envelope bytes.
ByteBuffer MakeContainer(const ByteBuffer& envelope);
