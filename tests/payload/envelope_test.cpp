#include <gtest/gtest.h>

#include <random>

#include "payload/envelope.h"

namespace {

ByteBuffer RandomBytes(std::size_t size, unsigned seed, int alphabet = 256) {
    std::mt19937 random(seed);
    ByteBuffer bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random() % alphabet);
    return bytes;
}

// An envelope with the tag, the given length word and a valid zlib stream of data.
ByteBuffer EnvelopeWithLength(std::uint32_t recordedLength, const ByteBuffer& data) {
    ByteBuffer envelope = packEnvelope(data);
    envelope[4] = static_cast<std::uint8_t>(recordedLength);
    envelope[5] = static_cast<std::uint8_t>(recordedLength >> 8);
    envelope[6] = static_cast<std::uint8_t>(recordedLength >> 16);
    envelope[7] = static_cast<std::uint8_t>(recordedLength >> 24);
    return envelope;
}

}  // namespace

TEST(EnvelopeTest, EmptyDataIsTheEightByteHeader) {
    const ByteBuffer envelope = packEnvelope(ByteBuffer());
    EXPECT_EQ(envelope, (ByteBuffer{0x0D, 0x0F, 0x3E, 0x03, 0, 0, 0, 0}));
    EXPECT_TRUE(unpackEnvelope(envelope).empty());
}

TEST(EnvelopeTest, RoundTripsAtTheDefaultLevel) {
    for (std::size_t size : {std::size_t{1}, std::size_t{1000}, std::size_t{3000000}}) {
        const ByteBuffer data = RandomBytes(size, static_cast<unsigned>(size), 16);
        const ByteBuffer envelope = packEnvelope(data);
        ASSERT_GT(envelope.size(), 10u);
        EXPECT_EQ(envelope[4] | envelope[5] << 8 | envelope[6] << 16 | envelope[7] << 24, static_cast<int>(size));
        EXPECT_EQ(envelope[8], 0x78);
        EXPECT_EQ(envelope[9], 0x9C);
        EXPECT_EQ(unpackEnvelope(envelope), data) << size;
    }
    // Incompressible data still fits the reserved output.
    const ByteBuffer noise = RandomBytes(200000, 3);
    EXPECT_EQ(unpackEnvelope(packEnvelope(noise)), noise);
}

TEST(EnvelopeTest, BadHeaderOrStreamUnpacksToNothing) {
    const ByteBuffer data = RandomBytes(5000, 1, 8);
    const ByteBuffer good = packEnvelope(data);
    ASSERT_EQ(unpackEnvelope(good), data);

    ByteBuffer wrongTag = good;
    wrongTag[0] ^= 1;
    EXPECT_TRUE(unpackEnvelope(wrongTag).empty());
    EXPECT_TRUE(unpackEnvelope(ByteBuffer(good.begin(), good.begin() + 7)).empty());
    EXPECT_TRUE(unpackEnvelope(ByteBuffer()).empty());
    EXPECT_TRUE(unpackEnvelope(nullptr, 100).empty());
    // Header alone with a positive length: no stream to inflate.
    EXPECT_TRUE(unpackEnvelope(ByteBuffer(good.begin(), good.begin() + 8)).empty());
    // A cut stream and a damaged stream.
    EXPECT_TRUE(unpackEnvelope(ByteBuffer(good.begin(), good.end() - 5)).empty());
    ByteBuffer damaged = good;
    damaged[damaged.size() / 2] ^= 0xFF;
    EXPECT_TRUE(unpackEnvelope(damaged).empty());
}

TEST(EnvelopeTest, RecordedLengthBoundsTheOutputAtTwiceItsValue) {
    const ByteBuffer data = RandomBytes(100, 2, 4);
    // The result is what the stream holds, not what the header claims...
    EXPECT_EQ(unpackEnvelope(EnvelopeWithLength(50, data)), data);
    EXPECT_EQ(unpackEnvelope(EnvelopeWithLength(1000, data)), data);
    // ...but a stream that inflates past 2·L fails.
    EXPECT_TRUE(unpackEnvelope(EnvelopeWithLength(49, data)).empty());
    // 2·L read as signed 32-bit must be positive.
    for (std::uint32_t length : {0x40000000u, 0x5A5A5A5Au, 0x7FFFFFFFu, 0x80000000u, 0xC0000000u, 0xFFFFFFFFu})
        EXPECT_TRUE(unpackEnvelope(EnvelopeWithLength(length, data)).empty()) << std::hex << length;
    // 2·L wraps: 0x80000032 doubles to 100, just enough.
    EXPECT_EQ(unpackEnvelope(EnvelopeWithLength(0x80000032u, data)), data);
}

TEST(EnvelopeTest, OutputGrowsWithTheStreamNotWithTheClaim) {
    // Just below the signed limit the claim asks for almost 2 GB, more than
    // a 32-bit process can hold; only what the stream holds may be taken.
    const ByteBuffer data = RandomBytes(100, 4);
    EXPECT_EQ(unpackEnvelope(EnvelopeWithLength(0x3FFFFFFFu, data)), data);
    // A stream that inflates far beyond its own size grows into 2·L, and
    // no further.
    const ByteBuffer zeros(3000000, 0);
    EXPECT_EQ(unpackEnvelope(EnvelopeWithLength(1500000, zeros)), zeros);
    EXPECT_TRUE(unpackEnvelope(EnvelopeWithLength(1499999, zeros)).empty());
}

TEST(EnvelopeTest, RefusesWhatCouldNotBeUnpacked) {
    // Not read: the length is refused before the data is touched.
    const std::uint8_t byte = 0;
    EXPECT_TRUE(packEnvelope(&byte, kMaxEnvelopeData + 1).empty());
}

TEST(EnvelopeTest, NonEmptyPasswordIsRefused) {
    const ByteBuffer data = RandomBytes(300, 5);
    EXPECT_EQ(packEnvelope(data, Text()), packEnvelope(data));
    EXPECT_TRUE(packEnvelope(data, "secret").empty());
    EXPECT_EQ(unpackEnvelope(packEnvelope(data), ""), data);
    EXPECT_TRUE(unpackEnvelope(packEnvelope(data), "secret").empty());
}

TEST(ContainerTest, HoldsTheEnvelopeBehindCountAndLength) {
    const ByteBuffer data = RandomBytes(4000, 6, 10);
    const ByteBuffer envelope = packEnvelope(data);
    const ByteBuffer container = MakeContainer(envelope);
    ASSERT_EQ(container.size(), envelope.size() + 8);
    EXPECT_EQ(ByteBuffer(container.begin(), container.begin() + 4), (ByteBuffer{1, 0, 0, 0}));
    const ByteSpan inside = ContainerContents(container.data(), container.size());
    ASSERT_EQ(inside.size, envelope.size());
    EXPECT_EQ(unpackEnvelope(inside), data);

    ByteBuffer twoDimensions = container;
    twoDimensions[0] = 2;
    EXPECT_EQ(ContainerContents(twoDimensions.data(), twoDimensions.size()).data, nullptr);
    // A byte length past the end of the container.
    EXPECT_EQ(ContainerContents(container.data(), container.size() - 1).size, 0u);
    EXPECT_EQ(ContainerContents(container.data(), 7).data, nullptr);
    // Bytes after the recorded length are not part of the envelope.
    ByteBuffer padded = container;
    padded.push_back(0xEE);
    EXPECT_EQ(ContainerContents(padded.data(), padded.size()).size, envelope.size());
}
