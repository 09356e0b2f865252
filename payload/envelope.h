#pragma once
// The packed envelope: tag, uncompressed length, one zlib stream.
#include <cstddef>
#include <cstdint>

#include "system/text.h"

constexpr std::uint32_t kEnvelopeTag = 0x033E0F0D;
constexpr std::size_t kEnvelopeHeaderSize = 8;
// The reader allocates twice the recorded length, which must stay a
// positive 32-bit value; longer data cannot be packed.
constexpr std::size_t kMaxEnvelopeData = 0x3FFFFFFF;

// Empty on failure; the envelope of empty data is the 8-byte header alone.
ByteBuffer packEnvelope(const std::uint8_t* data, std::size_t length);
inline ByteBuffer packEnvelope(const ByteBuffer& data) { return packEnvelope(data.data(), data.size()); }

// Empty on any failure (short, wrong tag, bad length, zlib error, no memory).
// The result is what the stream inflates to, not compared with the length
// recorded in the header.
ByteBuffer unpackEnvelope(const std::uint8_t* envelope, std::size_t length);
inline ByteBuffer unpackEnvelope(const ByteBuffer& envelope) {
    return unpackEnvelope(envelope.data(), envelope.size());
}

// Passwords: no cipher is implemented, so only the empty password is
// supported. A non-empty password is refused with the failure result (an
// empty buffer) rather than ignored, so nothing is ever packed in the
// clear when the caller asked for it to be enciphered. Callers that take
// a password (packArchive, packBytes, saveArchive, unpackBytes,
// extractArchive) check it with PasswordSupported or use these overloads.
inline bool PasswordSupported(const Text& password) { return password.empty(); }
inline ByteBuffer packEnvelope(const ByteBuffer& data, const Text& password) {
    return PasswordSupported(password) ? packEnvelope(data) : ByteBuffer();
}
inline ByteBuffer unpackEnvelope(const ByteBuffer& envelope, const Text& password) {
    return PasswordSupported(password) ? unpackEnvelope(envelope) : ByteBuffer();
}

// The container in the image: dimension count 1, byte length, envelope.
struct ByteSpan {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};
// The envelope inside a container; empty span when the header is wrong
// (dimension count not 1, or a byte length beyond the container's end).
ByteSpan ContainerContents(const std::uint8_t* container, std::size_t length);
inline ByteBuffer unpackEnvelope(ByteSpan envelope) { return unpackEnvelope(envelope.data, envelope.size); }
// A container around the given envelope bytes; empty when it cannot be made.
ByteBuffer MakeContainer(const ByteBuffer& envelope);
