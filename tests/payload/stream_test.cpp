#include <gtest/gtest.h>

#include <random>

#include "payload/inflate_source.h"
#include "payload/payload_archive.h"
#include "scratch.h"

namespace {

constexpr std::size_t kWindow = 1 << 18;  // the inflating source's window

std::string Noise(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

ByteBuffer WithLength(ByteBuffer envelope, std::uint32_t length) {
    for (int i = 0; i < 4; ++i) envelope[4 + i] = static_cast<std::uint8_t>(length >> (8 * i));
    return envelope;
}

int ExtractInto(const ByteBuffer& envelope, Text target) {
    PayloadArchive archive;
    return archive.extractArchive(envelope, target);
}

// Counts what an extraction reads of its input.
class CountingInput final : public PackedInput {
public:
    explicit CountingInput(const ByteBuffer& bytes) : inner_(ByteSpan{bytes.data(), bytes.size()}) {}
    std::size_t read(std::uint8_t* out, std::size_t length) override {
        const std::size_t got = inner_.read(out, length);
        bytes_ += got;
        return got;
    }
    bool rewind() override { return inner_.rewind(); }
    std::size_t bytes() const { return bytes_; }

private:
    SpanInput inner_;
    std::size_t bytes_ = 0;
};

}  // namespace

TEST(StreamExtract, DamagedStreamsWriteNothing) {
    ScratchDir dir;
    const ByteBuffer good = Envelope({Record("a.txt", "alpha"), Record("big.bin", Noise(3 * kWindow, 1)),
                                      Record("z.txt", "omega")});
    const ByteBuffer cut(good.begin(), good.begin() + good.size() / 2);  // inside big.bin
    ByteBuffer corrupt = good;
    corrupt[corrupt.size() - 40] ^= 0x55;  // after the first records
    const auto inflated = static_cast<std::uint32_t>(unpackEnvelope(good).size());
    const ByteBuffer overCap = WithLength(good, (inflated - 1) / 2);
    for (const ByteBuffer* envelope : {&cut, static_cast<const ByteBuffer*>(&corrupt), &overCap}) {
        EXPECT_EQ(ExtractInto(*envelope, dir / "out"), 0);
        EXPECT_TRUE(listDirectory(dir / "out").empty());
    }
    EXPECT_EQ(ExtractInto(good, dir / "out"), 1);
}

TEST(StreamExtract, LargeRecordsCrossManyWindowsWrittenOrSkipped) {
    ScratchDir dir;
    const std::string big = Noise(5 * kWindow + 123, 2);
    const std::string second = Noise(2 * kWindow, 3);
    const ByteBuffer envelope = Envelope({Record("big.bin", big), Record("sub\\second.bin", second)});
    EXPECT_EQ(ExtractInto(envelope, dir / "out"), 1);
    EXPECT_EQ(Contents(dir / "out\\big.bin"), big);
    // big.bin is now unchanged and inflated past; the file after it must still line up.
    dir.write("out\\sub\\second.bin", "changed");
    EXPECT_EQ(ExtractInto(envelope, dir / "out"), 1);
    EXPECT_EQ(Contents(dir / "out\\sub\\second.bin"), second);
}

TEST(StreamExtract, CapOfTwiceTheLengthHoldsAtTheWindowBoundary) {
    // An archive of exactly two windows: 2·L equal to it passes, one byte less fails.
    const std::size_t overhead = WriteArchive({Record("a.bin", "")}).size();
    const ByteBuffer archive = WriteArchive({Record("a.bin", Noise(2 * kWindow - overhead, 4))});
    ASSERT_EQ(archive.size(), 2 * kWindow);
    const ByteBuffer envelope = packEnvelope(archive);
    for (std::uint32_t length : {static_cast<std::uint32_t>(kWindow), static_cast<std::uint32_t>(kWindow - 1)}) {
        const ByteBuffer claimed = WithLength(envelope, length);
        SpanInput input(ByteSpan{claimed.data(), claimed.size()});
        EXPECT_EQ(PackedStreamUnpacks(input), length == kWindow) << length;
        EXPECT_EQ(unpackEnvelope(claimed).empty(), length != kWindow) << length;
    }
}

TEST(StreamExtract, FirstPassSeesWhatEarlierRecordsChanged) {
    // What lies at a path is looked at before the first write; a record
    // that follows a write to the same place must see the new state: the
    // file the first record finished, which it may not take away.
    ScratchDir dir;
    dir.write("out\\a.txt", "old");
    EXPECT_EQ(ExtractInto(Envelope({Record("a.txt", "new"), Record("a.txt", "old")}), dir / "out"), 0);
    EXPECT_EQ(Contents(dir / "out\\a.txt"), "new");

    // A file that replaces a folder takes the folder's files with it.
    dir.write("out\\d\\f.txt", "f");
    EXPECT_EQ(ExtractInto(Envelope({Record("d", "file"), Record("d\\f.txt", "f")}), dir / "out"), 0);
    EXPECT_EQ(Contents(dir / "out\\d"), "file");
}

TEST(StreamExtract, TheFirstPassInflatesOnlyAsFarAsTheLastChangedRecord) {
    ScratchDir dir;
    const std::string first = Noise(4 * kWindow, 5);
    const ByteBuffer envelope = Envelope({Record("a.bin", first), Record("b.bin", Noise(4 * kWindow, 6))});
    ASSERT_EQ(ExtractInto(envelope, dir / "out"), 1);
    const double size = static_cast<double>(envelope.size());

    // The check reads the input once; over an identical tree the pass needs little more.
    PayloadArchive archive;
    Text target = dir / "out";
    CountingInput unchanged(envelope);
    EXPECT_EQ(archive.extractArchive(unchanged, target), 1);
    EXPECT_LT(static_cast<double>(unchanged.bytes()), 1.25 * size);

    // Only the first record changed: the pass stops after it.
    dir.write("out\\a.bin", "changed");
    CountingInput changed(envelope);
    EXPECT_EQ(archive.extractArchive(changed, target), 1);
    EXPECT_LT(static_cast<double>(changed.bytes()), 1.75 * size);
    EXPECT_EQ(Contents(dir / "out\\a.bin"), first);
}
