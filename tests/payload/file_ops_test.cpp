#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "scratch.h"
#include "temp_variable.h"

namespace {

// "\x95\x5C" is one GBK character whose second byte is a backslash.
const Text kWideBackslash = "\x95\x5C";

}  // namespace

TEST(DirectoryPart, CutsTheLastComponentByCharacters) {
    EXPECT_EQ(directoryPart("C:\\a\\b.txt"), "C:\\a");
    EXPECT_EQ(directoryPart("C:\\a\\b"), "C:\\a");
    EXPECT_EQ(directoryPart("C:\\a\\"), "C:\\a");
    EXPECT_EQ(directoryPart("C:\\a.d\\b"), "C:\\a.d\\b");  // taken for a folder
    EXPECT_EQ(directoryPart("C:\\中文\\b.txt"), "C:\\中文");
    EXPECT_EQ(directoryPart("C:/a/b.txt", true), "C:\\a\\");
    EXPECT_EQ(directoryPart("C:\\a\\" + kWideBackslash), "C:\\a");
    EXPECT_EQ(directoryPart("C:\\" + kWideBackslash + "\\b.txt"), "C:\\" + kWideBackslash);
    EXPECT_EQ(directoryPart("name.txt"), "");

    // A file's folder: the last component is the name, dot or not.
    EXPECT_EQ(fileFolderPart("C:\\a.d\\b"), "C:\\a.d");
    EXPECT_EQ(fileFolderPart("app-1.0/bin\\tool"), "app-1.0\\bin");
    EXPECT_EQ(fileFolderPart("C:\\" + kWideBackslash + "\\LICENSE"), "C:\\" + kWideBackslash);
    EXPECT_EQ(fileFolderPart("LICENSE"), "");

    EXPECT_EQ(fileNamePart("C:\\a\\b.txt"), "b.txt");
    EXPECT_EQ(fileNamePart("C:\\a\\"), "a\\");
    EXPECT_EQ(fileNamePart("b.txt"), "");

    // Split where the file system splits: 0x80 alone is one character, so
    // the backslash after it is a separator; 0x81 starts a two-byte one.
    EXPECT_EQ(directoryPart("C:\\x\\\x80\\a.txt"), "C:\\x\\\x80");
    EXPECT_EQ(fileNamePart("C:\\x\\\x80\\a.txt"), "a.txt");
    EXPECT_EQ(directoryPart("C:\\x\\\x80\\"), "C:\\x\\\x80");
    EXPECT_EQ(directoryPart("C:\\x\\\x81\\a.txt"), "C:\\x");
}

TEST(FileOps, TellsFoldersFilesAndMissingPaths) {
    ScratchDir dir;
    Text file = dir.write("f.txt", "x");
    Text folder = dir / "sub";
    EnsureDirectoryPath(folder);
    Text missing = dir / "missing";

    EXPECT_TRUE(isDirectory(folder));
    EXPECT_FALSE(isDirectory(file));
    EXPECT_FALSE(isDirectory(missing));
    EXPECT_TRUE(pathExists(folder));
    EXPECT_TRUE(pathExists(file));
    EXPECT_FALSE(pathExists(missing));
    EXPECT_EQ(entryKind(folder), kEntryFolder);
    EXPECT_EQ(entryKind(file), kEntryFile);
    EXPECT_EQ(entryKind(missing), kEntryMissing);
    EXPECT_EQ(getAttributes(missing), -1);
    EXPECT_NE(getAttributes(folder) & kAttributeDirectory, 0);
    EXPECT_EQ(getAttributes(file) & kAttributeDirectory, 0);
}

TEST(FileOps, ReadsAndWritesWholeFilesAcrossChunks) {
    ScratchDir dir;
    Text empty = dir / "empty.bin";
    EXPECT_TRUE(writeWholeFile(empty, ByteBuffer()));
    EXPECT_TRUE(pathExists(empty));
    EXPECT_EQ(fileSizeOf(empty), 0);
    EXPECT_TRUE(readWholeFile(empty).empty());
    EXPECT_EQ(md5OfFile(empty), "d41d8cd98f00b204e9800998ecf8427e");

    ByteBuffer big(3 * kFileChunkSize + 7);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7 + i / 4096);
    Text bigPath = dir / "big.bin";
    ASSERT_TRUE(writeWholeFile(bigPath, big));
    EXPECT_EQ(readWholeFile(bigPath), big);
    EXPECT_EQ(fileSizeOf(bigPath), static_cast<std::int32_t>(big.size()));
    EXPECT_EQ(md5OfFile(bigPath), Md5OfBytes(big));

    // Shorter data truncates what was there.
    ASSERT_TRUE(writeWholeFile(bigPath, Bytes("abc")));
    EXPECT_EQ(md5OfFile(bigPath), "900150983cd24fb0d6963f7d28e17f72");

    EXPECT_EQ(md5OfFile(dir / "missing"), "");
    EXPECT_EQ(fileSizeOf(dir / "missing"), -1);
    // A folder cannot be read: it digests as no bytes.
    EXPECT_EQ(md5OfFile(dir.path()), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_FALSE(writeWholeFile(dir.path(), Bytes("x")));
}

TEST(FileOps, ReadOnlyFileRefusesWritesUntilCleared) {
    ScratchDir dir;
    Text file = dir.write("ro.txt", "old");
    setAttributes(file, kAttributeArchive | kAttributeReadOnly);
    EXPECT_EQ(getAttributes(file) & kAttributeReadOnly, kAttributeReadOnly);
    EXPECT_FALSE(openFile(file, 2).valid());
    EXPECT_FALSE(writeWholeFile(file, Bytes("new")));
    EXPECT_EQ(Contents(file), "old");
    EXPECT_TRUE(openFile(file, 1).valid());

    setAttributes(file, kAttributeArchive);
    EXPECT_EQ(getAttributes(file) & kAttributeReadOnly, 0);
    EXPECT_TRUE(writeWholeFile(file, Bytes("new")));
    EXPECT_EQ(Contents(file), "new");
}

TEST(FileOps, DeletesFilesAndTrees) {
    ScratchDir dir;
    dir.write("tree\\a.txt", "a");
    dir.write("tree\\sub\\b.txt", "b");
    dir.write("tree\\sub\\deeper\\c.txt", "c");
    EnsureDirectoryPath(dir / "tree\\emptysub");
    EXPECT_TRUE(deletePath(dir / "tree"));
    EXPECT_FALSE(pathExists(dir / "tree"));

    Text file = dir.write("single.txt", "x");
    EXPECT_TRUE(deletePath(file));
    EXPECT_FALSE(pathExists(file));
    EXPECT_TRUE(deletePath(dir / "missing"));
    EXPECT_TRUE(deleteFile(dir / "missing"));
    EXPECT_FALSE(removeFolder(dir / "missing"));

    // A folder is not a file.
    EnsureDirectoryPath(dir / "keep");
    EXPECT_FALSE(deleteFile(dir / "keep"));
    EXPECT_TRUE(isDirectory(dir / "keep"));
}

TEST(FileOps, ForceRemoveDeletesPlainFileWithoutWorkFolder) {
    ScratchDir dir;
    Text file = dir.write("plain.txt", "x");
    EnsureDirectoryPath(dir / "tmp");
    TempVariable redirect(FsPath(dir / "tmp").string().c_str());
    FolderWatch watch(TempDirectory());
    ASSERT_TRUE(watch.valid());
    EXPECT_TRUE(forceRemove(file));
    EXPECT_FALSE(pathExists(file));
    // Not even a work folder made and removed again.
    EXPECT_FALSE(watch.changed());
    EnsureDirectoryPath(dir / "tmp\\seen");
    EXPECT_TRUE(watch.changed());  // the watch does see one
}

TEST(FileOps, RemoveDirectoryTreeRemovesAFolderWithEverythingBelow) {
    ScratchDir dir;
    dir.write("t\\x\\y.txt", "y");
    dir.write("t\\z.txt", "z");
    EXPECT_TRUE(removeDirectoryTree("  " + dir / "t"));
    EXPECT_FALSE(pathExists(dir / "t"));
    EXPECT_FALSE(removeDirectoryTree(dir / "t"));
}

// Runs only in tests/root_sandbox.sh, where every root these paths can name
// is a scratch folder's: a guard that lets one through wipes only that.
TEST(RootGuard, RemoveDirectoryTreeRefusesRootsAndEmptyPaths) {
    const char* letter = std::getenv("VANTEL_ROOT_SANDBOX");
    if (!letter || !*letter) GTEST_SKIP() << "runs in the root sandbox only";
    const Text drive = Text(1, letter[0]) + ":";
    const Text lowerDrive = LowerAscii(drive);
#ifdef _WIN32
    // "\", "/" and a bare "R:" then lead to the sandbox drive too.
    ASSERT_TRUE(SetCurrentDirectoryA((drive + "\\").c_str()));
#endif
    const Text markers[] = {"\\vantel-root-sandbox", "\\keep\\file.txt", drive + "\\vantel-root-sandbox",
                            drive + "\\keep\\file.txt"};
    for (const Text& marker : markers) ASSERT_TRUE(pathExists(marker)) << "not in the sandbox: " << marker;

    for (const Text& refused : {Text(""), Text("   "), drive, drive + "\\", lowerDrive + "/", " " + drive + "\\",
                                Text("\\"), Text("/"), Text(" \\")})
        EXPECT_FALSE(removeDirectoryTree(refused)) << "'" << refused << "'";
    for (const Text& marker : markers) EXPECT_TRUE(pathExists(marker)) << marker;
}

TEST(FileOps, ListsAndCollectsDepthFirst) {
    ScratchDir dir;
    dir.write("root\\a.txt", "a");
    dir.write("root\\sub\\b.txt", "bb");
    dir.write("root\\sub\\deeper\\c.txt", "ccc");
    dir.write("root\\.hidden", "h");

    TextList names = listDirectory(dir / "root");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (TextList{".hidden", "a.txt", "sub"}));
    EXPECT_EQ(listDirectory(dir / "root", ".*"), TextList{".hidden"});
    EXPECT_TRUE(listDirectory(dir / "root\\a.txt").empty());
    EXPECT_TRUE(listDirectory(dir / "missing").empty());

    TextList files;
    collectFiles(dir / "root", files);
    ASSERT_EQ(files.size(), 4u);
    // Depth first: the files of sub come together, deeper's right after sub's own.
    auto at = [&](const Text& rel) { return std::find(files.begin(), files.end(), dir / rel) - files.begin(); };
    EXPECT_LT(at("root\\sub\\b.txt"), 4);
    EXPECT_LT(at("root\\sub\\deeper\\c.txt"), 4);
    EXPECT_EQ(std::abs(at("root\\sub\\b.txt") - at("root\\sub\\deeper\\c.txt")), 1);

    TextList single;
    collectFiles(dir / "missing", single);
    EXPECT_EQ(single, TextList{dir / "missing"});
    EXPECT_EQ(fileSizeOf(dir / "root\\sub\\deeper\\c.txt"), 3);
}

TEST(FileOps, HandlesTwoByteNames) {
    ScratchDir dir;
    Text file = dir.write("中文目录\\说明.txt", "内容");
    EXPECT_TRUE(pathExists(file));
    EXPECT_EQ(Contents(file), "内容");
    EXPECT_EQ(listDirectory(dir / "中文目录"), TextList{"说明.txt"});
    EXPECT_TRUE(deletePath(dir / "中文目录"));
    EXPECT_FALSE(pathExists(dir / "中文目录"));
}
