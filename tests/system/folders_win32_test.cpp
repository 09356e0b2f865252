#include <gtest/gtest.h>

#include <windows.h>

#include "planted_dll.h"
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

Text SystemFolder() {
    wchar_t folder[MAX_PATH] = {};
    return TextFromWideBuffer(folder, GetSystemDirectoryW(folder, MAX_PATH));
}

TEST(FoldersWin32Test, LoadModuleTakesBareNamesFromTheSystemFolderAndFullPathsAsTheyAre) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const Text fullPath = SystemFolder() + "\\kernel32.dll";
    EXPECT_EQ(LoadModule("kernel32.dll"), kernel);
    EXPECT_EQ(LoadModule(fullPath), kernel);
    EXPECT_EQ(LoadModule(fullPath, true), kernel);
    // The native loader would search for a bare name; relative paths lead anywhere.
    EXPECT_EQ(LoadModule("kernel32.dll", true), nullptr);
    EXPECT_EQ(LoadModule("system32\\kernel32.dll"), nullptr);
    EXPECT_EQ(LoadModule("vantel-no-such-module.dll"), nullptr);
    EXPECT_EQ(LoadModule(SystemFolder() + "\\vantel-no-such-module.dll", true), nullptr);

    PlantedDll planted("vantel-planted.dll");
    ASSERT_TRUE(planted.Planted());
    EXPECT_EQ(LoadModule("vantel-planted.dll"), nullptr);
    EXPECT_FALSE(planted.Ran());
    LoadedModule byItsPath(LoadModule(planted.Path(), true));
    EXPECT_TRUE(byItsPath && planted.Ran());
}

// In a process of its own, so the library handle starts out null.
TEST(FoldersWin32DeathTest, TheTempPseudoFolderLoadsNoShellLibrary) {
    EXPECT_EXIT(
        {
            if (SpecialFolderPath(kCsidlTempPseudo) != TempDirectory()) _exit(2);
            if (ShellLibraryHandle()) _exit(3);
            SpecialFolderPath(kCsidlDesktop);
            if (!ShellLibraryHandle()) _exit(4);
            _exit(IsSystemFolder(FolderOf(ShellLibraryHandle())) ? 0 : 5);
        },
        testing::ExitedWithCode(0), "");
}
