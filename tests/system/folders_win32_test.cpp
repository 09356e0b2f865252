#include <gtest/gtest.h>

#include <windows.h>

#include "system/folders.h"
#include "system/wide_text.h"

namespace {

bool IsDirectory(const Text& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

TEST(FoldersWin32Test, ShellFoldersResolve) {
    Text desktop = SpecialFolderPath(kCsidlDesktop);
    Text programFiles = SpecialFolderPath(kCsidlProgramFiles);
    EXPECT_TRUE(IsDirectory(desktop)) << desktop;
    EXPECT_TRUE(IsDirectory(programFiles)) << programFiles;
    EXPECT_NE(desktop, programFiles);
    EXPECT_EQ(SpecialFolderPath(0x7FFF), "");  // no such folder
}

TEST(FoldersWin32Test, ATemporaryFolderCodePage936CannotNameGivesWayToTheSystemOne) {
    wchar_t saved[1024] = {};
    const DWORD had = GetEnvironmentVariableW(L"TMP", saved, 1024);
    SetEnvironmentVariableW(L"TMP", L"C:\\users\\\uD55C\\Temp");
    const Text temp = TempDirectory();
    SetEnvironmentVariableW(L"TMP", had ? saved : nullptr);
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    EXPECT_EQ(Wide(temp), std::wstring(windows) + L"\\Temp");
    EXPECT_TRUE(IsDirectory(temp)) << temp;
    EXPECT_EQ(TempDirectory(), SpecialFolderPath(kCsidlTempPseudo));
}

TEST(FoldersWin32Test, LoadModuleWithEitherLoader) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    EXPECT_EQ(LoadModule("kernel32.dll"), kernel);
    EXPECT_EQ(LoadModule("kernel32.dll", true), kernel);
    EXPECT_EQ(LoadModule("vantel-no-such-module.dll"), nullptr);
    EXPECT_EQ(LoadModule("vantel-no-such-module.dll", true), nullptr);
}

// In a process of its own, so the library handle starts out null.
TEST(FoldersWin32DeathTest, TheTempPseudoFolderLoadsNoShellLibrary) {
    EXPECT_EXIT(
        {
            if (SpecialFolderPath(kCsidlTempPseudo) != TempDirectory()) _exit(2);
            if (ShellLibraryHandle()) _exit(3);
            SpecialFolderPath(kCsidlDesktop);
            _exit(ShellLibraryHandle() ? 0 : 4);
        },
        testing::ExitedWithCode(0), "");
}
