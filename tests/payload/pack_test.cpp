#include <gtest/gtest.h>

#include "payload/archive_writer.h"
#include "payload/payload_archive.h"
#include "scratch.h"

namespace {

Text UpperAscii(Text text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

}  // namespace

TEST(Pack, MergesByPathIgnoringCaseInPlace) {
    ScratchDir dir;
    Text first = dir.write("d1\\Sub\\A.txt", "one");
    Text other = dir.write("d1\\z.txt", "zed");
    Text sameBytes = dir.write("d2\\sub\\a.txt", "one");
    Text newBytes = dir.write("d3\\SUB\\a.TXT", "two");

    PayloadArchive archive;
    archive.setBaseDirectory(dir / "d1");
    EXPECT_EQ(archive.baseDirectory, dir / "d1\\");
    archive.addFile(first);
    archive.addFile(other);
    archive.setBaseDirectory(dir / "d2\\");
    archive.addFile(sameBytes);
    ASSERT_EQ(archive.entries.size(), 2u);
    EXPECT_EQ(archive.entries[0].path, "Sub\\A.txt");  // same digest: kept

    archive.setBaseDirectory(dir / "d3");
    archive.addFile(newBytes);
    ASSERT_EQ(archive.entries.size(), 2u);
    EXPECT_EQ(archive.entries[0].path, "SUB\\a.TXT");  // replaced where it was
    EXPECT_EQ(archive.entries[0].data, Bytes("two"));
    EXPECT_EQ(archive.entries[1].path, "z.txt");
}

TEST(Pack, EntriesCarryPathSizeDigestAndAttributes) {
    ScratchDir dir;
    Text file = dir.write("src\\bin\\a.dll", "library");
    PayloadArchive archive;
    archive.addFile(file);  // no base: the file name alone
    archive.setBaseDirectory(UpperAscii(dir / "src"));
    archive.addFile(file);
    ASSERT_EQ(archive.entries.size(), 2u);
    EXPECT_EQ(archive.entries[0].path, "a.dll");
    const ArchiveEntry& entry = archive.entries[1];
    EXPECT_EQ(entry.path, "bin\\a.dll");
    EXPECT_EQ(entry.fileSize, 7);
    EXPECT_EQ(entry.data, Bytes("library"));
    EXPECT_EQ(entry.md5, Md5OfBytes(Bytes("library")));
    EXPECT_EQ(entry.attributes, getAttributes(file));

    // Outside the base directory: an empty path.
    Text outside = dir.write("elsewhere.txt", "e");
    archive.addFile(outside);
    EXPECT_EQ(archive.entries.back().path, "");
}

TEST(Pack, AddDirectoryOfEmptyOrMissingFolder) {
    ScratchDir dir;
    EnsureDirectoryPath(dir / "empty");
    PayloadArchive archive;
    Text empty = dir / "empty";
    archive.addDirectory(empty);
    EXPECT_TRUE(archive.entries.empty());

    Text missing = ForwardToBackslashes(dir.path()) + "missing";
    for (char& c : missing)
        if (c == '\\') c = '/';
    archive.addDirectory(missing);
    EXPECT_EQ(missing, dir / "missing\\");  // normalised in place
    ASSERT_EQ(archive.entries.size(), 1u);
    const ArchiveEntry& entry = archive.entries[0];
    EXPECT_EQ(entry.path, "");
    EXPECT_TRUE(entry.data.empty());
    EXPECT_EQ(entry.fileSize, -1);
    EXPECT_EQ(entry.attributes, -1);
    EXPECT_EQ(entry.md5, Md5OfBytes(nullptr, 0));

    // Extraction skips it as invalid and writes nothing.
    Text target = dir / "target";
    EXPECT_EQ(archive.extractArchive(archive.packArchive(), target), 1);
    EXPECT_TRUE(listDirectory(target).empty());
}

TEST(Pack, SaveArchiveAppendsExtensionAndMakesFolder) {
    ScratchDir dir;
    PayloadArchive archive;
    archive.setBaseDirectory(dir.path());
    archive.addFile(dir.write("f.txt", "file"));
    // A name with a dot: the folder part is then the same wherever the
    // scratch folder lies, a dotted temporary path included.
    Text out = dir / "out\\deeper\\setup.pkg";
    ASSERT_TRUE(archive.saveArchive(out));
    EXPECT_TRUE(isDirectory(dir / "out\\deeper"));
    EXPECT_FALSE(pathExists(out));
    EXPECT_EQ(unpackEnvelope(readWholeFile(out + ".ez")), WriteArchive(archive.entries));

    // A password is refused rather than ignored.
    EXPECT_FALSE(archive.saveArchive(dir / "out\\secret", "pw"));
    EXPECT_FALSE(pathExists(dir / "out\\secret.ez"));
    EXPECT_TRUE(archive.packArchive("pw").empty());
    EXPECT_TRUE(archive.packBytes(Bytes("x"), "pw").empty());
    EXPECT_TRUE(archive.unpackBytes(archive.packBytes(Bytes("x")), "pw").empty());
    EXPECT_EQ(archive.unpackBytes(archive.packBytes(Bytes("x"))), Bytes("x"));
}

TEST(Pack, CopyIsDeepAndDestroyEmpties) {
    ScratchDir dir;
    PayloadArchive archive;
    archive.setBaseDirectory(dir.path());
    archive.addFile(dir.write("f.txt", "file"));
    std::unique_ptr<PayloadArchive> copy = archive.copy();
    archive.entries[0].data[0] = 'F';
    archive.baseDirectory += "x";
    EXPECT_EQ(copy->entries[0].data, Bytes("file"));
    EXPECT_EQ(copy->baseDirectory, dir.path());
    archive.destroy();
    EXPECT_TRUE(archive.entries.empty());
    EXPECT_TRUE(archive.baseDirectory.empty());
    EXPECT_EQ(copy->entries.size(), 1u);
    EXPECT_EQ(archive.dropFront(Bytes("abcdef"), 2), Bytes("cdef"));
    EXPECT_EQ(archive.dropFront(Bytes("ab"), -1), Bytes("ab"));
    EXPECT_TRUE(archive.dropFront(Bytes("ab"), 9).empty());
}

TEST(Pack, RoundTripKeepsBytesNamesAndAttributes) {
    ScratchDir dir;
    std::string big(2 * kFileChunkSize + 123, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 31) ^ (i >> 10));
    const TextList files = {"升级说明与必看.txt", "中文目录\\说明.txt", "empty.bin", "深\\层\\空.dat",
                            "ro.txt", "browser\\1.2.3\\big.bin"};
    dir.write("src\\" + files[0], "说明文字");
    dir.write("src\\" + files[1], "text");
    dir.write("src\\" + files[2], "");
    dir.write("src\\" + files[3], "");
    dir.write("src\\" + files[4], "read only");
    dir.write("src\\" + files[5], big);
    setAttributes(dir / ("src\\" + files[4]), kAttributeArchive | kAttributeReadOnly);

    PayloadArchive packer;
    Text source = dir / "src";
    packer.addDirectory(source);
    ASSERT_EQ(packer.entries.size(), files.size());
    ASSERT_TRUE(packer.saveArchive(dir / "pkg"));

    PayloadArchive reader;
    Text target = dir / "dst";
    EXPECT_EQ(reader.extractArchive(readWholeFile(dir / "pkg.ez"), target), 1);
    for (const Text& file : files) {
        EXPECT_EQ(readWholeFile(dir / ("dst\\" + file)), readWholeFile(dir / ("src\\" + file))) << file;
        EXPECT_EQ(getAttributes(dir / ("dst\\" + file)), getAttributes(dir / ("src\\" + file))) << file;
    }
    EXPECT_NE(getAttributes(dir / "dst\\ro.txt") & kAttributeReadOnly, 0);
}

TEST(Pack, StreamingPackIsByteIdenticalToTheOneCallPack) {
    ScratchDir dir;
    std::string large(3 * kFileChunkSize + 17, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>((i * 2654435761u) >> 13);
    const std::vector<std::pair<Text, std::string>> files = {
        {"a.txt", "alpha"}, {"empty.bin", ""}, {"sub\\large.bin", large}, {"sub\\中文.txt", "GBK name"}};
    PayloadArchive archive;
    archive.setBaseDirectory(dir / "src");
    std::vector<PackSource> sources;
    for (const auto& [path, contents] : files) {
        archive.addFile(dir.write("src\\" + path, contents));
        sources.push_back({dir / ("src\\" + path), path});
    }
    PackSummary summary;
    Text offender;
    std::string reason;
    ASSERT_TRUE(PackFilesToEnvelope(sources, dir / "out.ez", summary, offender, reason)) << reason;
    const ByteBuffer expected = archive.packArchive();
    EXPECT_EQ(readWholeFile(dir / "out.ez"), expected);
    EXPECT_EQ(summary.packedBytes, expected.size());

    // A file that cannot be read is named, and nothing claims success.
    sources.push_back({dir / "src\\missing.bin", "missing.bin"});
    EXPECT_FALSE(PackFilesToEnvelope(sources, dir / "out2.ez", summary, offender, reason));
    EXPECT_EQ(offender, dir / "src\\missing.bin");
}
