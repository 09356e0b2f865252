// What the extraction finds on disk before the first pass is a hint: with
// or without it, every record is judged by what is there at its turn.
#include <gtest/gtest.h>

#include <functional>

#include "payload/archive_check.h"
#include "payload/payload_archive.h"
#include "scratch.h"

namespace {

// An envelope in memory that runs `hook` just before the rewind numbered
// `at`: the first rewind starts the check, the second the first pass.
class HookedInput final : public PackedInput {
public:
    HookedInput(PackedInput& inner, int at, std::function<void()> hook)
        : inner_(inner), at_(at), hook_(std::move(hook)) {}
    std::size_t read(std::uint8_t* out, std::size_t length) override { return inner_.read(out, length); }
    bool rewind() override {
        if (++rewinds_ == at_ && hook_) hook_();
        return inner_.rewind();
    }
    bool failed() const override { return inner_.failed(); }

private:
    PackedInput& inner_;
    int at_;
    int rewinds_ = 0;
    std::function<void()> hook_;
};

// Counts what is read, rewinds included.
class CountingInput final : public PackedInput {
public:
    explicit CountingInput(PackedInput& inner) : inner_(inner) {}
    std::size_t read(std::uint8_t* out, std::size_t length) override {
        const std::size_t got = inner_.read(out, length);
        bytes += got;
        return got;
    }
    bool rewind() override { return inner_.rewind(); }
    bool failed() const override { return inner_.failed(); }
    std::size_t bytes = 0;

private:
    PackedInput& inner_;
};

CheckedHeaders HeadersOf(const ByteBuffer& envelope) {
    CheckedHeaders kept;
    ArchiveVisitor visitor;
    visitor.record = [&](std::int32_t number, RecordHeader& header) {
        kept.keep(number, header);
        return true;
    };
    SpanInput input(ByteSpan{envelope.data(), envelope.size()});
    std::string reason;
    EXPECT_TRUE(CheckArchive(input, reason, visitor)) << reason;
    return kept;
}

// Checking as it goes (as ezpack), or after a check of its own that may
// have kept the headers (as the installer).
int ExtractBothWays(PackedInput& input, const Text& folder, bool checked, const CheckedHeaders* headers = nullptr) {
    PayloadArchive archive;
    archive.checkedHeaders = headers;
    Text target = folder;
    return archive.extractArchive(input, target, Text(), nullptr, nullptr, false, TraceSink(), checked);
}

int ExtractBothWays(const ByteBuffer& envelope, const Text& folder, bool checked) {
    SpanInput input(ByteSpan{envelope.data(), envelope.size()});
    const CheckedHeaders headers = HeadersOf(envelope);
    return ExtractBothWays(input, folder, checked, checked ? &headers : nullptr);
}

}  // namespace

TEST(Survey, AFolderMadeForAnEarlierRecordIsSeenAtItsTurn) {
    // The second record meets the folder the first one needed: a folder is
    // no file, and taking it away would undo the first record, so the
    // second fails and nothing is deleted.
    const ByteBuffer envelope = Envelope({Record("sub\\f.txt", "f"), Record("sub", ""), Record("sub\\g.txt", "g")});
    for (bool checked : {false, true}) {
        ScratchDir dir;
        EXPECT_EQ(ExtractBothWays(envelope, dir / "out", checked), 0) << checked;
        EXPECT_EQ(Contents(dir / "out\\sub\\f.txt"), "f") << checked;
        EXPECT_EQ(Contents(dir / "out\\sub\\g.txt"), "g") << checked;
    }
}

TEST(Survey, ChangesMadeAfterTheCheckAreSeen) {
    const std::string big(3 << 18, 'a');
    const ByteBuffer envelope = Envelope({Record("a.bin", big), Record("b.txt", "right")});
    // What another process does to b.txt once the check has digested it.
    const std::function<void(const ScratchDir&)> changes[] = {
        [](const ScratchDir& dir) { deleteFile(dir / "out\\b.txt"); },
        [](const ScratchDir& dir) { dir.write("out\\b.txt", "wrong"); },  // the same size
        [](const ScratchDir& dir) {
            const Text other = dir.write("other.txt", "wrong");
            std::filesystem::rename(FsPath(other), FsPath(dir / "out\\b.txt"));
        },
    };
    for (const auto& change : changes) {
        ScratchDir dir;
        dir.write("out\\b.txt", "right");
        SpanInput span(ByteSpan{envelope.data(), envelope.size()});
        HookedInput input(span, 2, [&] { change(dir); });
        EXPECT_EQ(ExtractBothWays(input, dir / "out", false), 1);
        EXPECT_EQ(Contents(dir / "out\\a.bin"), big);
        EXPECT_EQ(Contents(dir / "out\\b.txt"), "right");
    }
}

TEST(Survey, AFileWithTwoNamesIsReplacedNotWrittenThrough) {
    const ByteBuffer envelope = Envelope({Record("a.txt", "NEW"), Record("b.txt", "OLD")});
    for (bool checked : {false, true}) {
        ScratchDir dir;
        const Text beside = dir.write("beside.txt", "OLD");
        EnsureDirectoryPath(dir / "out");
        std::filesystem::create_hard_link(FsPath(beside), FsPath(dir / "out\\a.txt"));
        std::filesystem::create_hard_link(FsPath(beside), FsPath(dir / "out\\b.txt"));
        EXPECT_EQ(ExtractBothWays(envelope, dir / "out", checked), 1) << checked;
        EXPECT_EQ(Contents(dir / "out\\a.txt"), "NEW") << checked;
        EXPECT_EQ(Contents(dir / "out\\b.txt"), "OLD") << checked;
        EXPECT_EQ(Contents(beside), "OLD") << checked;
        // b.txt already held its record's bytes, yet under another name too:
        // replaced as well, so a later write there leaves it alone.
        dir.write("beside.txt", "NOW");
        EXPECT_EQ(Contents(dir / "out\\b.txt"), "OLD") << checked;
    }
}

TEST(Survey, ALone80ByteIsACharacterOfItsOwn) {
    // Code page 936 reads 0x80 alone as one character: the record's folder
    // is made under that name, where the file system puts the file.
    const ByteBuffer envelope = Envelope({Record("\x80\\a.txt", "euro")});
    for (bool checked : {false, true}) {
        ScratchDir dir;
        EXPECT_EQ(ExtractBothWays(envelope, dir / "out", checked), 1) << checked;
        EXPECT_TRUE(isDirectory(dir / "out\\\x80")) << checked;
        EXPECT_EQ(Contents(dir / "out\\\x80\\a.txt"), "euro") << checked;
    }
}

TEST(Survey, AfterACheckThatKeptTheHeadersAnUnchangedTargetIsOnlyHashed) {
    const std::string big(3 << 18, 'b');
    const ByteBuffer envelope = Envelope({Record("a.txt", "a"), Record("sub\\big.bin", big), Record("c.txt", "c")});
    const CheckedHeaders headers = HeadersOf(envelope);
    ScratchDir dir;
    ASSERT_EQ(ExtractBothWays(envelope, dir / "out", false), 1);
    SpanInput span(ByteSpan{envelope.data(), envelope.size()});
    CountingInput unchanged(span);
    EXPECT_EQ(ExtractBothWays(unchanged, dir / "out", true, &headers), 1);
    EXPECT_EQ(unchanged.bytes, 0u);
    // A changed file is inflated to, and what follows it still judged at its turn.
    dir.write("out\\a.txt", "x");
    deleteFile(dir / "out\\c.txt");
    CountingInput changed(span);
    EXPECT_EQ(ExtractBothWays(changed, dir / "out", true, &headers), 1);
    EXPECT_GT(changed.bytes, 0u);
    EXPECT_EQ(Contents(dir / "out\\a.txt"), "a");
    EXPECT_EQ(Contents(dir / "out\\sub\\big.bin"), big);
    EXPECT_EQ(Contents(dir / "out\\c.txt"), "c");
}
