#include <gtest/gtest.h>

#include <cstring>

#include <climits>
#include <random>

#include "payload/archive_format.h"
#include "payload/archive_path.h"
#include "payload/envelope.h"
#include "payload/md5.h"

namespace {

const Text kEmptyMd5 = "d41d8cd98f00b204e9800998ecf8427e";

// Builds archive bytes field by field, independently of WriteArchive.
struct Bytes {
    ByteBuffer out;
    Bytes& word(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
    Bytes& text(const Text& t) {
        out.insert(out.end(), t.begin(), t.end());
        return *this;
    }
    Bytes& record(const Text& path, std::int32_t fileSize, const Text& md5, const Text& attributes, const Text& data) {
        word(static_cast<std::uint32_t>(path.size())).word(static_cast<std::uint32_t>(fileSize));
        word(static_cast<std::uint32_t>(data.size())).word(static_cast<std::uint32_t>(attributes.size()));
        return text(path).text(md5).text(attributes).text(data);
    }
};

ByteBuffer AsBytes(const Text& text) { return ByteBuffer(text.begin(), text.end()); }

ArchiveEntry Entry(const Text& path, const ByteBuffer& data, std::int32_t attributes) {
    ArchiveEntry entry;
    entry.path = path;
    entry.data = data;
    entry.fileSize = static_cast<std::int32_t>(data.size());
    entry.md5 = Md5OfBytes(data);
    entry.attributes = attributes;
    return entry;
}

void ExpectSameEntry(const ArchiveEntry& actual, const ArchiveEntry& expected) {
    EXPECT_EQ(actual.path, expected.path);
    EXPECT_EQ(actual.md5, expected.md5);
    EXPECT_EQ(actual.fileSize, expected.fileSize);
    EXPECT_EQ(actual.attributes, expected.attributes);
    EXPECT_TRUE(actual.data == expected.data) << expected.path;
}

// A stand-in for a streaming source: it hands bytes out in small pieces
// and only knows an upper bound of what is left.
class TricklingSource : public ArchiveSource {
public:
    explicit TricklingSource(ByteBuffer bytes) : bytes_(std::move(bytes)) {}
    std::size_t read(std::uint8_t* out, std::size_t length) override {
        std::size_t copied = 0;
        while (copied < length && at_ < bytes_.size()) {
            const std::size_t n = std::min({length - copied, bytes_.size() - at_, std::size_t{7}});
            std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(at_), n, out + copied);
            at_ += n;
            copied += n;
        }
        return copied;
    }
    std::size_t skip(std::size_t length) override {
        const std::size_t n = std::min(length, bytes_.size() - at_);
        at_ += n;
        return n;
    }
    std::size_t remaining() const override { return bytes_.size() - at_ + 100; }

private:
    ByteBuffer bytes_;
    std::size_t at_ = 0;
};

}  // namespace

TEST(CursorTest, EveryReadIsTotal) {
    ArchiveCursor cursor(ByteBuffer{0x01, 0x02, 0x03, 0x04, 0x05, 0x06});
    EXPECT_EQ(cursor.readInt32(), 0x04030201);
    EXPECT_EQ(cursor.remaining(), 2u);
    // Short integer: the bytes that remain, zeros for the rest.
    EXPECT_EQ(cursor.readInt32(), 0x0605);
    EXPECT_EQ(cursor.remaining(), 0u);
    EXPECT_EQ(cursor.readInt32(), 0);
    EXPECT_TRUE(cursor.takeBytes(10).empty());

    ArchiveCursor slices(AsBytes("abcdefgh"));
    EXPECT_TRUE(slices.takeBytes(-5).empty());
    slices.drop(-1);
    slices.drop(INT_MIN);
    EXPECT_EQ(slices.remaining(), 8u);
    EXPECT_EQ(slices.takeBytes(0), ByteBuffer());
    EXPECT_EQ(slices.takeBytes(3), AsBytes("abc"));
    slices.drop(1);
    EXPECT_EQ(slices.takeBytes(INT_MAX), AsBytes("efgh"));  // clamped to what remains
    slices.drop(INT_MAX);
    EXPECT_EQ(slices.remaining(), 0u);
    EXPECT_FALSE(slices.failed());

    // Text stops at a NUL while the cursor moves by the declared length.
    ArchiveCursor text(Bytes().text(Text("ab\0cd", 5)).text("XY").out);
    EXPECT_EQ(text.takeText(5), "ab");
    EXPECT_EQ(text.takeText(2), "XY");
}

TEST(CursorTest, RecordCountMustBeFrom1To99999) {
    EXPECT_FALSE(RecordCountValid(0));
    EXPECT_FALSE(RecordCountValid(-1));
    EXPECT_FALSE(RecordCountValid(100000));
    EXPECT_FALSE(RecordCountValid(INT_MIN));
    EXPECT_TRUE(RecordCountValid(1));
    EXPECT_TRUE(RecordCountValid(99999));
    // Counts as they come out of archive bytes, and from a failed unpack.
    EXPECT_FALSE(RecordCountValid(ArchiveCursor(Bytes().word(0xFFFFFFFF).out).readInt32()));
    EXPECT_TRUE(RecordCountValid(ArchiveCursor(Bytes().word(99999).out).readInt32()));
    EXPECT_FALSE(RecordCountValid(ArchiveCursor(unpackEnvelope(ByteBuffer{1, 2, 3})).readInt32()));
}

TEST(CursorTest, OddRecordsKeepTheFollowingFieldsInPlace) {
    const Text md5 = "0123456789abcdef0123456789abcdef";
    const ByteBuffer bytes = Bytes()
                                 .word(5)
                                 .record("", 3, md5, "32", "abc")            // empty path
                                 .record("a.txt", 1, md5, "", "z")           // no attribute text
                                 .record(Text("b\0c", 3), 2, md5, "1", "xy")  // NUL inside the path
                                 .record("empty", 0, kEmptyMd5, "32", "")    // no data
                                 .record("last", 4, md5, "x7", "tail")        // attribute text not a number
                                 .out;
    ArchiveCursor cursor(bytes);
    ASSERT_EQ(cursor.readInt32(), 5);

    ArchiveEntry r = cursor.readRecord();
    EXPECT_EQ(r.path, "");
    EXPECT_EQ(r.md5, md5);
    EXPECT_EQ(r.attributes, 32);
    EXPECT_EQ(r.data, AsBytes("abc"));

    r = cursor.readRecord();
    EXPECT_EQ(r.path, "a.txt");
    EXPECT_EQ(r.attributes, 0);
    EXPECT_EQ(r.data, AsBytes("z"));

    r = cursor.readRecord();
    EXPECT_EQ(r.path, "b");
    EXPECT_EQ(r.fileSize, 2);
    EXPECT_EQ(r.md5, md5);
    EXPECT_EQ(r.attributes, 1);
    EXPECT_EQ(r.data, AsBytes("xy"));

    r = cursor.readRecord();
    EXPECT_EQ(r.path, "empty");
    EXPECT_TRUE(r.data.empty());
    EXPECT_EQ(r.md5, Md5OfBytes(r.data));

    r = cursor.readRecord();
    EXPECT_EQ(r.path, "last");
    EXPECT_EQ(r.attributes, 0);
    EXPECT_EQ(r.data, AsBytes("tail"));
    EXPECT_EQ(cursor.remaining(), 0u);
}

TEST(CursorTest, ArchiveCutInsideDataReadsWhatIsThereThenZeros) {
    const Text md5 = Md5OfBytes(AsBytes("0123456789"));
    ByteBuffer bytes = Bytes().word(3).record("one", 10, md5, "32", "0123456789").record("two", 10, md5, "32", "0123456789").out;
    bytes.resize(bytes.size() - 4);  // cut inside the second record's data
    ArchiveCursor cursor(bytes);
    ASSERT_EQ(cursor.readInt32(), 3);
    EXPECT_EQ(cursor.readRecord().data, AsBytes("0123456789"));
    const ArchiveEntry cut = cursor.readRecord();
    EXPECT_EQ(cut.path, "two");
    EXPECT_EQ(cut.data, AsBytes("012345"));
    const ArchiveEntry missing = cursor.readRecord();
    EXPECT_EQ(missing.path, "");
    EXPECT_EQ(missing.md5, "");
    EXPECT_EQ(missing.fileSize, 0);
    EXPECT_EQ(missing.attributes, 0);
    EXPECT_TRUE(missing.data.empty());
    EXPECT_FALSE(cursor.failed());
}

TEST(CursorTest, UnaffordableSliceIsAFailureNotACrash) {
    if (sizeof(void*) > 4) GTEST_SKIP() << "a 64-bit process can hold 2 GB";
    // A stream that really delivers almost 2 GB cannot be sliced whole in a 32-bit process.
    class Endless : public ArchiveSource {
    public:
        std::size_t read(std::uint8_t* out, std::size_t n) override {
            std::memset(out, 'x', n);
            return n;
        }
        std::size_t skip(std::size_t n) override { return n; }
        std::size_t remaining() const override { return 0x7FFFFFF0; }
    };
    ArchiveCursor cursor(std::make_unique<Endless>());
    EXPECT_TRUE(cursor.takeBytes(0x7FFFFFF0).empty());
    EXPECT_TRUE(cursor.failed());
}

TEST(CursorTest, SliceGrowsWithWhatTheSourceHolds) {
    // A length word that promises far more than the stream holds costs only what is there.
    class Boastful : public ArchiveSource {
    public:
        std::size_t read(std::uint8_t* out, std::size_t n) override {
            const std::size_t given = std::min(n, left_);
            std::memset(out, 'y', given);
            left_ -= given;
            return given;
        }
        std::size_t skip(std::size_t n) override { return n; }
        std::size_t remaining() const override { return 0x7FFFFFF0; }

    private:
        std::size_t left_ = 100;
    };
    ArchiveCursor cursor(std::make_unique<Boastful>());
    ByteBuffer slice = cursor.takeBytes(0x7FFFFFF0);
    EXPECT_EQ(slice.size(), 100u);
    EXPECT_LE(slice.capacity(), 1u << 16);
    EXPECT_FALSE(cursor.failed());
}

TEST(CursorTest, LongPathsAndAttributeTextsAreReadThroughNotHeld) {
    // A record whose path and attribute text claim 64 MB each, made up as it
    // is read: neither may be held whole, only read through in small pieces.
    class Generated : public ArchiveSource {
    public:
        explicit Generated(std::uint32_t claim) : claim_(claim) {
            head_ = Bytes().word(claim).word(1).word(1).word(claim).out;
        }
        std::size_t read(std::uint8_t* out, std::size_t n) override {
            largest_ = std::max(largest_, n);
            for (std::size_t i = 0; i < n; ++i) out[i] = next();
            return n;
        }
        std::size_t skip(std::size_t n) override {
            for (std::size_t i = 0; i < n; ++i) next();
            return n;
        }
        std::size_t remaining() const override { return 0x7FFFFFF0; }
        std::size_t largestRead() const { return largest_; }

    private:
        // The length words, the path's 'p's, the md5's '0's, the attribute digits, one data byte.
        std::uint8_t next() {
            std::size_t at = at_++;
            if (at < head_.size()) return head_[at];
            at -= head_.size();
            if (at < claim_) return 'p';
            at -= claim_;
            if (at < 32) return '0';
            at -= 32;
            return at < claim_ ? '3' : 'z';
        }
        std::uint32_t claim_;
        ByteBuffer head_;
        std::size_t at_ = 0, largest_ = 0;
    };
    const std::uint32_t claim = 64u << 20;
    auto owned = std::make_unique<Generated>(claim);
    Generated& source = *owned;
    ArchiveCursor cursor(std::move(owned));
    const RecordHeader header = cursor.readHeader();
    ASSERT_EQ(header.path.size(), kMaxPathBytes);  // never printed whole
    EXPECT_EQ(header.path, Text(kMaxPathBytes, 'p'));
    EXPECT_FALSE(IsSafeArchivePath(header.path));
    EXPECT_EQ(header.md5, Text(32, '0'));
    std::uint32_t word = 0;  // the digits taken modulo 2^32, as for a short text
    for (std::uint32_t i = 0; i < claim; ++i) word = word * 10u + 3u;
    EXPECT_EQ(header.attributes, static_cast<std::int32_t>(word));
    EXPECT_EQ(cursor.takeBytes(1), AsBytes("z"));
    EXPECT_LE(source.largestRead(), 1u << 16);
}

TEST(AttributeTextTest, DecimalWordsReadBack) {
    EXPECT_EQ(AttributeTextToInt("32"), 32);
    EXPECT_EQ(AttributeTextToInt("524320"), 524320);
    EXPECT_EQ(AttributeTextToInt(""), 0);
    EXPECT_EQ(AttributeTextToInt("abc"), 0);
    EXPECT_EQ(AttributeTextToInt("33 junk"), 33);
    EXPECT_EQ(AttributeTextToInt("-1"), -1);
    // Every 32-bit word round-trips through its unsigned decimal text.
    for (std::int32_t word : {0, 1, 32, 524320, INT_MAX, INT_MIN, -1}) {
        EXPECT_EQ(AttributeTextToInt(AttributeIntToText(word)), word) << word;
    }
    EXPECT_EQ(AttributeIntToText(-1), "4294967295");
    // Longer numbers wrap modulo 2^32 instead of overflowing: 2^32 + 5.
    EXPECT_EQ(AttributeTextToInt("4294967301"), 5);
}

TEST(ArchiveWriterTest, LaysOutRecordsFieldByField) {
    ArchiveEntry pinned = Entry("resource\\zh_logo_64.ico", AsBytes("icon"), 524320);
    pinned.fileSize = 99;  // carried through as given
    ArchiveEntry empty = Entry("升级说明与必看.txt", ByteBuffer(), 32);
    const ByteBuffer expected = Bytes()
                                    .word(2)
                                    .record(pinned.path, 99, pinned.md5, "524320", "icon")
                                    .record(empty.path, 0, kEmptyMd5, "32", "")
                                    .out;
    EXPECT_EQ(WriteArchive({pinned, empty}), expected);
    EXPECT_EQ(WriteArchive({}), (ByteBuffer{0, 0, 0, 0}));

    // A digest of the wrong length still occupies exactly 32 bytes.
    ArchiveEntry shortDigest = Entry("s", AsBytes("d"), 32);
    shortDigest.md5 = "abc";
    ArchiveCursor cursor(WriteArchive({shortDigest, empty}));
    ASSERT_EQ(cursor.readInt32(), 2);
    EXPECT_EQ(cursor.readRecord().md5, "abc");
    EXPECT_EQ(cursor.readRecord().path, empty.path);
}

TEST(ArchiveWriterTest, RandomRecordsRoundTripThroughTheEnvelope) {
    std::mt19937 random(2024);
    const Text pieces[] = {"browser", "resource", "中文", "防关联", "\x95\x5C", "a b", "VantelPA.exe", "x"};
    std::vector<ArchiveEntry> entries;
    for (int i = 0; i < 60; ++i) {
        Text path;
        for (int depth = 0, n = 1 + static_cast<int>(random() % 4); depth < n; ++depth)
            path += (depth ? "\\" : "") + pieces[random() % std::size(pieces)];
        std::size_t size = random() % 3 == 0 ? 0 : random() % 5000;
        ByteBuffer data(size);
        for (auto& b : data) b = static_cast<std::uint8_t>(random());
        const std::int32_t attributes[] = {32, 524320, 33, -1, 0};
        entries.push_back(Entry(path + std::to_string(i), data, attributes[random() % std::size(attributes)]));
    }
    // One large file of compressible bytes, like the browser's binaries.
    ByteBuffer large(12 * 1024 * 1024);
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>((i * 7) ^ (i >> 9));
    entries.insert(entries.begin() + 30, Entry("browser\\big.bin", large, 32));

    const ByteBuffer archive = WriteArchive(entries);
    ASSERT_FALSE(archive.empty());
    const ByteBuffer envelope = packEnvelope(archive);
    ASSERT_FALSE(envelope.empty());
    ByteBuffer inflated = unpackEnvelope(envelope);
    ASSERT_TRUE(inflated == archive);

    // The same reader walks a buffer and a trickling stream.
    ArchiveCursor fromBuffer(std::move(inflated));
    ArchiveCursor fromStream(std::make_unique<TricklingSource>(archive));
    for (ArchiveCursor* cursor : {&fromBuffer, &fromStream}) {
        const std::int32_t count = cursor->readInt32();
        ASSERT_TRUE(RecordCountValid(count));
        ASSERT_EQ(count, static_cast<std::int32_t>(entries.size()));
        for (const ArchiveEntry& expected : entries) ExpectSameEntry(cursor->readRecord(), expected);
        EXPECT_FALSE(cursor->failed());
    }
    EXPECT_EQ(fromBuffer.remaining(), 0u);
}

TEST(DropFrontTest, ClampsLikeTheCursor) {
    const ByteBuffer bytes{1, 2, 3, 4};
    EXPECT_EQ(DropFront(bytes, 1), (ByteBuffer{2, 3, 4}));
    EXPECT_EQ(DropFront(bytes, 0), bytes);
    EXPECT_EQ(DropFront(bytes, -3), bytes);
    EXPECT_TRUE(DropFront(bytes, 4).empty());
    EXPECT_TRUE(DropFront(bytes, INT_MAX).empty());
}
