#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "payload/md5.h"

namespace {

Text Md5OfText(const char* text) { return Md5OfBytes(text, std::strlen(text)); }

}  // namespace

TEST(Md5Test, Rfc1321Vectors) {
    EXPECT_EQ(Md5OfText(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5OfText("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Md5OfText("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5OfText("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Md5OfText("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(Md5OfText("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    std::string eightTimes;
    for (int i = 0; i < 8; ++i) eightTimes += "1234567890";
    EXPECT_EQ(Md5OfText(eightTimes.c_str()), "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5Test, ChunkedInputGivesTheOneShotDigest) {
    // One million 'a', fed in chunks of 1000: a published test value.
    Md5 million;
    const std::string chunk(1000, 'a');
    for (int i = 0; i < 1000; ++i) million.update(chunk.data(), chunk.size());
    EXPECT_EQ(million.finish(), "7707d6ae4e027c70eea2a935c2296f21");

    // Uneven chunks around the 64-byte block size give the one-shot digest.
    std::mt19937 random(7);
    ByteBuffer data(300000);
    for (auto& b : data) b = static_cast<std::uint8_t>(random());
    const Text whole = Md5OfBytes(data);
    ASSERT_EQ(whole.size(), 32u);
    Md5 pieces;
    const std::size_t sizes[] = {0, 1, 63, 64, 65, 127, 4096, 100000};
    std::size_t at = 0;
    for (std::size_t i = 0; at < data.size(); ++i) {
        const std::size_t n = std::min(sizes[i % std::size(sizes)], data.size() - at);
        pieces.update(data.data() + at, n);
        at += n;
    }
    EXPECT_EQ(pieces.finish(), whole);
    EXPECT_NE(Md5OfBytes(data.data(), data.size() - 1), whole);
}

TEST(Md5Test, SpentDigestReportsFailure) {
    Md5 md5;
    md5.update("abc", 3);
    EXPECT_EQ(md5.finish(), "900150983cd24fb0d6963f7d28e17f72");
    md5.update("abc", 3);
    EXPECT_EQ(md5.finish(), "");
}
