#include <gtest/gtest.h>

#include "payload/free_space.h"
#include "scratch.h"

TEST(FreeSpace, CountsOnlyWhatIsMissingOrOfAnotherSizeAndMeasuresTheDeepestFolderThere) {
    ScratchDir dir;
    dir.write("out\\same.txt", "12345");
    dir.write("out\\sub\\shorter.txt", "12");
    const std::vector<RecordSize> records = {
        {"same.txt", 5}, {"sub\\shorter.txt", 7}, {"sub\\missing.bin", 1000}, {"..\\outside.txt", 50}, {"sub", 9}};
    // A folder where a file goes counts as missing; a path the extraction skips counts not at all.
    EXPECT_EQ(BytesToAdd(records, dir / "out"), 7u + 1000u + 9u);
    EXPECT_EQ(BytesToAdd(records, dir / "none"), 5u + 7u + 1000u + 9u);

    std::uint64_t there = 0, below = 0;
    ASSERT_TRUE(VolumeFreeBytes(dir.path(), there));
    ASSERT_TRUE(FreeSpaceFor(dir / "not\\yet\\made", below));
    EXPECT_NEAR(static_cast<double>(below), static_cast<double>(there), 64.0 * 1048576);
    EXPECT_FALSE(pathExists(dir / "not"));
}
