#include <gtest/gtest.h>

#include <cstdlib>

#include "system/folders.h"
#include "temp_variable.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

struct TempCase {
    const char* variable;
    Text expected;
};

// GetTempPathA adds one backslash where the value has none, and Wine's
// collapses doubled ones; a value ending in a two-byte character whose
// second byte is 0x5C shows that one character is removed, not every 0x5C.
#ifdef _WIN32
const TempCase kTempCases[] = {{"C:\\vantel-temp", "C:\\vantel-temp"},
                               {"C:\\vantel-\x95\x5C", "C:\\vantel-\x95\x5C"}};
#else
// A value ending in two backslashes shows that only one is removed.
const TempCase kTempCases[] = {{"/tmp/vantel-temp/", "\\tmp\\vantel-temp"},
                               {"/tmp/vantel-temp", "\\tmp\\vantel-temp"},
                               {"/tmp/vantel-temp//", "\\tmp\\vantel-temp\\"}};
#endif

}  // namespace

TEST(FoldersTest, TempDirectoryIsTheTempPseudoFolder) {
    Text temp = TempDirectory();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(SpecialFolderPath(kCsidlTempPseudo), temp);
    EXPECT_FALSE(EndsWithBackslashChar(temp));
}

TEST(FoldersTest, TempDirectoryDropsExactlyOneFinalBackslash) {
    for (const TempCase& c : kTempCases) {
        TempVariable tmp(c.variable);
        EXPECT_EQ(TempDirectory(), c.expected) << c.variable;
        EXPECT_EQ(SpecialFolderPath(kCsidlTempPseudo), c.expected) << c.variable;
    }
}
