#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "process/directory.h"
#include "system/folders.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include "system/posix_path.h"
#endif

namespace {

bool IsDirectory(const Text& path) {
#ifdef _WIN32
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
#else
    struct stat st;
    return stat(ToPosixPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
#endif
}

std::string NativePath(const Text& path) {
#ifdef _WIN32
    return path;
#else
    return ToPosixPath(path);
#endif
}

void RemoveFolder(const Text& path) {
#ifdef _WIN32
    RemoveDirectoryA(path.c_str());
#else
    rmdir(ToPosixPath(path).c_str());
#endif
}

Text UniqueRoot() {
    static int n = 0;
    return TempDirectory() + "\\vantel-dir-" + std::to_string(reinterpret_cast<std::uintptr_t>(&n) % 100000) + "-" +
           std::to_string(++n);
}

}  // namespace

TEST(DirectoryTest, CreatesEveryLevelWithEitherSeparator) {
    Text root = UniqueRoot();
    Text forward = root;
    for (char& c : forward)
        if (c == '\\') c = '/';
    ASSERT_TRUE(EnsureDirectoryPath(forward + "/a/中文/c"));
    EXPECT_TRUE(IsDirectory(root + "\\a\\中文\\c"));
    EXPECT_TRUE(EnsureDirectoryPath(root + "\\a\\中文\\c"));    // exists already
    EXPECT_TRUE(EnsureDirectoryPath(root + "\\a\\b\\"));      // final backslash
    EXPECT_TRUE(IsDirectory(root + "\\a\\b"));
    // The second byte of 乗 is 0x5C: one name, never split into two levels.
    ASSERT_TRUE(EnsureDirectoryPath(root + "\\a\\乗\\d"));
    EXPECT_TRUE(IsDirectory(root + "\\a\\乗\\d"));
    // A file in the way cannot become a directory.
    Text file = root + "\\a\\file";
    std::FILE* f = std::fopen(NativePath(file).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_FALSE(EnsureDirectoryPath(file + "\\sub"));
    std::remove(NativePath(file).c_str());
    for (const char* dir : {"\\a\\中文\\c", "\\a\\中文", "\\a\\乗\\d", "\\a\\乗", "\\a\\b", "\\a", ""})
        RemoveFolder(root + dir);
    EXPECT_FALSE(IsDirectory(root));
}
