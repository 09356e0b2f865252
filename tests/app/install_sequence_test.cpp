// The path rules the install handlers share.
#include <gtest/gtest.h>

#include "app/install_sequence.h"

namespace {
// A GBK character whose second byte is a backslash.
const Text kWideBackslash = "\x95\x5C";
}  // namespace

TEST(ProductDir, VersionFolderUnlessTheLastByteIsABackslash) {
    EXPECT_EQ(ProductDirFor("D:\\Programs\\VantelPA", "2.2.06"), "D:\\Programs\\VantelPA\\vantelpa-2.2.06");
    EXPECT_EQ(ProductDirFor("D:\\", "2.2.06"), "D:\\");
    EXPECT_EQ(ProductDirFor("C:/Apps/VantelPA", "2.2.06"), "C:/Apps/VantelPA\\vantelpa-2.2.06");
    // The test looks at the last byte, so a two-byte character ending in 0x5C counts.
    EXPECT_EQ(ProductDirFor("D:\\" + kWideBackslash, "2.2.06"), "D:\\" + kWideBackslash);
}

TEST(ChosenFolder, ProductWordAppendedUnlessPresent) {
    const Text fallback = "C:\\Program Files\\VantelPA";
    EXPECT_EQ(ChosenFolderToInstallDir("E:\\Tools", fallback), "E:\\Tools\\VantelPA");
    EXPECT_EQ(ChosenFolderToInstallDir("D:\\", fallback), "D:\\VantelPA");
    EXPECT_EQ(ChosenFolderToInstallDir("E:\\Tools\\VANTELPA-old", fallback), "E:\\Tools\\VANTELPA-old");
    EXPECT_EQ(ChosenFolderToInstallDir("E:\\vantelpa", fallback), "E:\\vantelpa");
}

TEST(ChosenFolder, CancelledOrNotOnADriveGivesTheDefault) {
    const Text fallback = "C:\\Program Files\\VantelPA";
    EXPECT_EQ(ChosenFolderToInstallDir("", fallback), fallback);
    EXPECT_EQ(ChosenFolderToInstallDir("\\\\server\\share", fallback), fallback);
    EXPECT_EQ(ChosenFolderToInstallDir("X", fallback), fallback);
}

TEST(ChosenFolder, ProductWordNeverMatchesFromASecondByte) {
    // A whole two-byte character, then the word: found.
    EXPECT_EQ(ChosenFolderToInstallDir("E:\\\xB6\x76vantelpa", "C:\\x"), "E:\\\xB6\x76vantelpa");
    // 0x8B takes the "v" as its second byte, so only "antelpa" follows.
    EXPECT_EQ(ChosenFolderToInstallDir("E:\\\x8Bvantelpa", "C:\\x"), "E:\\\x8Bvantelpa\\VantelPA");
}

TEST(FinishTiming, PadsToTenSecondsButWaitsAtLeastTheFinalWait) {
    const struct {
        long long elapsed, wait;
    } cases[] = {{0, 10000}, {3000, 7000}, {9899, 101}, {9950, 100}, {10000, 100}, {15000, 100}, {1000000, 100}};
    for (const auto& c : cases) EXPECT_EQ(FinalWaitMs(c.elapsed), c.wait) << c.elapsed;
}
