#include <gtest/gtest.h>

#include <chrono>

#include "payload/payload_archive.h"
#include "scratch.h"

namespace {

struct Outcome {
    int result = -1;
    TextList paths, md5s, lines;
    ExtractFailure failure;
};

Outcome Extract(const ByteBuffer& envelope, Text& target, const Text& password = Text()) {
    Outcome run;
    PayloadArchive archive;
    run.result = archive.extractArchive(envelope, target, password, &run.paths, &run.md5s, true,
                                        [&](const Text&, const Text& line) { run.lines.push_back(line); });
    run.failure = archive.failure;
    return run;
}

bool Contains(const Text& text, const Text& part) { return text.find(part) != Text::npos; }

}  // namespace

TEST(Extract, WritesFilesAndSkipsThemWhenUnchanged) {
    ScratchDir dir;
    std::vector<ArchiveEntry> records = {Record("a.txt", "alpha"), Record("sub\\b.txt", "beta"),
                                         Record("sub\\deep\\empty.bin", "")};
    ByteBuffer envelope = Envelope(records);
    Text target = dir / "out";
    Outcome first = Extract(envelope, target);
    ASSERT_EQ(first.result, 1);
    EXPECT_EQ(first.paths.size(), 3u);  // one pass
    EXPECT_EQ(Contents(dir / "out\\sub\\b.txt"), "beta");
    EXPECT_TRUE(pathExists(dir / "out\\sub\\deep\\empty.bin"));
    EXPECT_EQ(first.lines[0], "文件MD5：" + records[0].md5 + "，文件有变化，需要写入，写入成功。");

    // Age the files, then run again: nothing may be written.
    auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(48);
    std::vector<std::filesystem::file_time_type> aged;
    for (const Text& path : first.paths) {
        std::filesystem::last_write_time(FsPath(path), old);
        aged.push_back(std::filesystem::last_write_time(FsPath(path)));
    }
    Outcome second = Extract(envelope, target);
    EXPECT_EQ(second.result, 1);
    EXPECT_EQ(second.failure.cause, FailureCause::None);
    EXPECT_EQ(second.paths, first.paths);
    EXPECT_EQ(second.md5s, first.md5s);
    for (std::size_t i = 0; i < aged.size(); ++i)
        EXPECT_EQ(std::filesystem::last_write_time(FsPath(first.paths[i])), aged[i]) << first.paths[i];
    for (const Text& line : second.lines) EXPECT_TRUE(Contains(line, "，文件无变化，跳过。")) << line;
}

TEST(Extract, ComparesDigestsIgnoringCase) {
    ScratchDir dir;
    dir.write("out\\same.txt", "same bytes");
    ArchiveEntry record = Record("same.txt", "same bytes");
    for (char& c : record.md5) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    Text target = dir / "out";
    Outcome run = Extract(Envelope({record}), target);
    EXPECT_EQ(run.result, 1);
    ASSERT_EQ(run.lines.size(), 1u);
    EXPECT_EQ(run.lines[0], "文件MD5：" + record.md5 + "，文件无变化，跳过。");
}

TEST(Extract, NormalisesTheTargetInPlace) {
    ScratchDir dir;
    Text target = ForwardToBackslashes(dir.path()) + "Apps/Tool";
    for (char& c : target)
        if (c == '\\') c = '/';
    Outcome run = Extract(Envelope({Record("x.txt", "x")}), target);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(target, dir / "Apps\\Tool\\");
    EXPECT_EQ(Contents(dir / "Apps\\Tool\\x.txt"), "x");

    // Normalised even when nothing can be read.
    Text other = dir / "Other";
    EXPECT_EQ(Extract(ByteBuffer{1, 2, 3}, other).result, 0);
    EXPECT_EQ(other, dir / "Other\\");
}

TEST(Extract, RewritesReadOnlyChangedFileWithRecordAttributes) {
    ScratchDir dir;
    Text file = dir.write("out\\ro.txt", "old contents");
    setAttributes(file, kAttributeArchive | kAttributeReadOnly);
    Text target = dir / "out";
    // The write is refused each time, as the file is read-only. The first
    // word differs from the 32 the file gets before it is deleted.
    const std::int32_t words[] = {kAttributeArchive | kAttributeReadOnly, kAttributeArchive};
    for (std::int32_t word : words) {
        const std::string contents = "contents " + std::to_string(word);
        Outcome run = Extract(Envelope({Record("ro.txt", contents, word)}), target);
        EXPECT_EQ(run.result, 1);
        EXPECT_EQ(run.paths.size(), 1u);  // fixed within the first pass
        EXPECT_EQ(Contents(file), contents);
        EXPECT_EQ(getAttributes(file), word);
        ASSERT_EQ(run.lines.size(), 1u);
        EXPECT_TRUE(Contains(run.lines[0], "，文件有变化，需要写入，写入失败，尝试删除重写，写入成功。")) << run.lines[0];
    }
}

TEST(Extract, ReplacesAFolderStandingWhereAFileGoes) {
    // A folder is no file, not even an empty one's match.
    for (const std::string contents : {"file", ""}) {
        ScratchDir dir;
        dir.write("out\\clash.txt\\inside.txt", "in the way");
        Text target = dir / "out";
        Outcome run = Extract(Envelope({Record("clash.txt", contents)}), target);
        EXPECT_EQ(run.result, 1);
        EXPECT_EQ(entryKind(dir / "out\\clash.txt"), kEntryFile);
        EXPECT_EQ(Contents(dir / "out\\clash.txt"), contents);
    }
}

TEST(Extract, ARecordIsAFileWhateverItsName) {
    // Below a folder with a dot, names without one are still files.
    ScratchDir dir;
    Text target = dir / "t\\app-1.0";
    Outcome run = Extract(Envelope({Record("LICENSE", ""), Record("bin\\tool", "tool")}), target);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(entryKind(target + "LICENSE"), kEntryFile);
    EXPECT_EQ(Contents(target + "bin\\tool"), "tool");
    ASSERT_EQ(run.lines.size(), 2u);
    EXPECT_FALSE(Contains(run.lines[1], "写入失败")) << run.lines[1];
}

TEST(Extract, AFileThatDoesNotVerifyLeavesWhatWasThere) {
    ScratchDir dir;
    Text target = dir / "out";
    dir.write("out\\old.txt", "old");
    ArchiveEntry changed = Record("old.txt", "new");
    ArchiveEntry fresh = Record("fresh.bin", std::string(100000, 'f'));
    changed.md5 = fresh.md5 = Md5OfBytes(Bytes("neither"));
    Outcome run = Extract(Envelope({changed, fresh}), target);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.failure.cause, FailureCause::Damaged);
    EXPECT_EQ(Contents(target + "old.txt"), "old");
    // Nothing of the unverified bytes stays, under any name.
    EXPECT_EQ(listDirectory(target), TextList{"old.txt"});
}

TEST(Extract, InvalidPathsCountAsFinishedAndWriteNothing) {
    ScratchDir dir;
    Text target = dir / "t\\inner";
    Outcome empty = Extract(Envelope({Record("", "a"), Record("", "b")}), target);
    EXPECT_EQ(empty.result, 1);
    EXPECT_TRUE(listDirectory(target).empty());
    EXPECT_EQ(empty.lines.size(), 2u);
    EXPECT_TRUE(Contains(empty.lines[0], "，无效文件，跳过。"));

    std::vector<ArchiveEntry> hostile = {
        Record("..\\evil1.txt", "1"),       Record("sub\\..\\..\\evil2.txt", "2"),
        Record("\\evil3.txt", "3"),         Record("/evil4.txt", "4"),
        Record(dir / "evil5.txt", "5"),     Record("C:evil6.txt", "6"),
        Record("sub/../../evil7.txt", "7"), Record(".. \\evil8.txt", "8"),
        Record("ok\\good.txt", "good"),
    };
    Outcome run = Extract(Envelope(hostile), target);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(Contents(target + "ok\\good.txt"), "good");
    // Each record's full path is the target followed by its path, so what
    // one reaches lies in the target or in the folders above it here.
    EXPECT_EQ(listDirectory(target), TextList{"ok"});
    EXPECT_EQ(listDirectory(dir / "t"), TextList{"inner"});
    EXPECT_EQ(listDirectory(dir.path()), TextList{"t"});
}

TEST(Extract, AnArchiveThatIsNotWholeWritesNothing) {
    std::string longData(5000, 'L');
    const std::vector<ArchiveEntry> records = {Record("a.txt", "alpha"), Record("long.txt", longData),
                                               Record("c.txt", "gamma")};
    const ByteBuffer whole = WriteArchive(records);
    auto withCount = [&](std::int32_t count) {
        ByteBuffer archive = whole;
        for (int i = 0; i < 4; ++i) archive[i] = static_cast<std::uint8_t>(count >> (8 * i));
        return archive;
    };
    ByteBuffer cut = whole;
    cut.resize(whole.size() - 3000 - (16 + 5 + 32 + 2));  // inside long.txt's data, c.txt missing
    ByteBuffer trailing = whole;
    trailing.push_back(0);
    for (const ByteBuffer& archive : {cut, withCount(99999), withCount(2), trailing}) {
        ScratchDir dir;
        Text target = dir / "out";
        Outcome run = Extract(packEnvelope(archive), target);
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.failure.cause, FailureCause::Damaged);
        EXPECT_TRUE(run.paths.empty());
        EXPECT_FALSE(pathExists(target));
    }
}

TEST(Extract, RefusesWhatItCannotRead) {
    ScratchDir dir;
    Text target = dir / "out";
    std::vector<ArchiveEntry> records = {Record("a.txt", "a")};
    // An enciphered archive cannot be read: no cipher here.
    EXPECT_EQ(Extract(Envelope(records), target, "secret").result, 0);
    EXPECT_FALSE(pathExists(target + "a.txt"));

    for (std::int32_t count : {0, -1, 100000}) {
        ByteBuffer archive = WriteArchive(records);
        archive[0] = static_cast<std::uint8_t>(count);
        archive[1] = static_cast<std::uint8_t>(count >> 8);
        archive[2] = static_cast<std::uint8_t>(count >> 16);
        archive[3] = static_cast<std::uint8_t>(count >> 24);
        Outcome run = Extract(packEnvelope(archive), target);
        EXPECT_EQ(run.result, 0) << count;
        EXPECT_TRUE(run.paths.empty());
    }
    EXPECT_EQ(Extract(ByteBuffer(), target).result, 0);
    EXPECT_FALSE(pathExists(target + "a.txt"));
}

TEST(SafeArchivePath, JudgesTheComponentsTheFileSystemSees) {
    const Text kept[] = {
        "a.txt", "resource\\zh_logo_64.ico", "b..c\\...x", ".hidden", "CONFIG.SYS", "COM10", "LPT0.txt",
        "\x95\x5C\\ok",               // the 0x5C belongs to a two-byte character
        "\xD6\xD0\xCE\xC4\\a b.txt",  // GBK names
        "\x80\\x",                     // 0x80 stands alone in the code page
        Text(kMaxPathBytes - 1, 'a'),
    };
    for (const Text& path : kept) EXPECT_TRUE(IsSafeArchivePath(path)) << path;

    const Text refused[] = {
        "", "\\x", "/x", "x\\", "a\\\\b", "a//b",            // empty components
        ".", "..", "...", " ", ". ", " .", "a\\.\\b", "a\\..", // dots and spaces only
        "..\\x", "a/../../x", "a.", "a ", "a\\b.\\c",            // Windows strips a final dot or space
        "\x80\\..\\",  // a lead byte before a separator: the file system splits there
        "\x81",          // a lead byte with nothing after it does not convert
        "\x81\x2E",      // nor one before a byte that cannot follow it
        "CON", "con.txt", "Nul", "aux.tar.gz", "PRN ", "CON .txt", "com1", "LPT9.log", "CONIN$", "conout$",
        "dir\\nul\\x",
        "D:x", "a\\b:stream", "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "a\tb", Text("a\x01b"),
        Text(kMaxPathBytes, 'a'),
    };
    for (const Text& path : refused) EXPECT_FALSE(IsSafeArchivePath(path)) << path;
}

TEST(Extract, NoRecordReachesTheTargetItselfOrAnythingBesideIt) {
    ScratchDir dir;
    dir.write("beside.txt", "beside");
    dir.write("t\\keep.txt", "keep");
    Text target = dir / "t";
    std::vector<ArchiveEntry> records;
    for (const Text& path : {Text("."), Text(" "), Text(". "), Text("..."), Text("\x80\\..\\"), Text("\x80\\..")})
        records.push_back(Record(path, "x"));
    Outcome run = Extract(Envelope(records), target);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(Contents(dir / "t\\keep.txt"), "keep");
    EXPECT_EQ(Contents(dir / "beside.txt"), "beside");
    EXPECT_EQ(listDirectory(dir.path()).size(), 2u);
    EXPECT_EQ(listDirectory(target), TextList{"keep.txt"});
    for (const Text& line : run.lines) EXPECT_TRUE(Contains(line, "，无效文件，跳过。")) << line;
}

TEST(Extract, RemovesWorkFoldersAnEarlierRunLeftInTheTargetAndNothingElse) {
    ScratchDir dir;
    const Text leftover = "out\\.vantel-aside-0123456789abcdef";
    dir.write(leftover + "\\TemporaryFile", "old program");
    dir.write(leftover + "\\deeper\\x", "x");
    // Not of that name, not a folder, or not in the target itself: the user's.
    const Text kept[] = {"out\\.vantel-aside-0123456789abcde\\keep.txt",
                         "out\\.vantel-aside-FEDCBA9876543210\\keep.txt", "out\\.vantel-aside-00112233445566ff",
                         "out\\sub\\.vantel-aside-0123456789abcdef\\keep.txt"};
    for (const Text& path : kept) dir.write(path, path);
    Text target = dir / "out";
    EXPECT_EQ(Extract(Envelope({Record("a.txt", "a")}), target).result, 1);
    EXPECT_FALSE(pathExists(dir / leftover));
    for (const Text& path : kept) EXPECT_EQ(Contents(dir / path), path);
}

TEST(Extract, HugePathsAreRefusedWithoutBeingSplit) {
    ScratchDir dir;
    Text target = dir / "t";
    // Each would cost minutes or gigabytes if a path routine were not linear.
    Outcome run = Extract(Envelope({Record("a" + Text(1000000, '\\'), "1"), Record(Text(30000000, 'x'), "2"),
                                    Record("ok.txt", "ok")}),
                          target);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(listDirectory(target), TextList{"ok.txt"});
    EXPECT_EQ(directoryPart("C:\\a" + Text(1000000, '\\')), "C:\\a");
    EXPECT_TRUE(EndsWithBackslashChar(Text(1000000, '\\')));
}
