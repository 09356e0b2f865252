#include <gtest/gtest.h>

#include "system/text.h"
#include "system/text_buffer.h"

// "中" in GBK is D6 D0; 0x5C as a second byte appears in e.g. "\x95\x5C".
static const Text kWideBackslash = "\x95\x5C";

TEST(CharRoutines, CutByCharactersNotBytes) {
    EXPECT_EQ(RightChars("0x1F", 2), "1F");
    EXPECT_EQ(LeftChars("0x1F", 2), "0x");
    EXPECT_EQ(MidChars("ABCD", 2, 2), "BC");
    EXPECT_EQ(MidChars("ABCD", 2, 0), "BCD");
    EXPECT_EQ(MidChars("ABCD", 5, 1), "");
    EXPECT_EQ(LeftChars("AB", 10), "AB");
    EXPECT_EQ(RightChars("AB", 10), "AB");
    EXPECT_EQ(RightChars("C:\\" + kWideBackslash, 1), kWideBackslash);
    EXPECT_EQ(LeftChars(kWideBackslash + "x", 1), kWideBackslash);
}

TEST(CharRoutines, BackslashTestSeesTwoByteCharacters) {
    EXPECT_TRUE(EndsWithBackslashChar("C:\\a\\"));
    EXPECT_FALSE(EndsWithBackslashChar("C:\\" + kWideBackslash));
    EXPECT_EQ(NormaliseDirectory("C:/Apps/Tool"), "C:\\Apps\\Tool\\");
    EXPECT_EQ(NormaliseDirectory("C:\\" + kWideBackslash), "C:\\" + kWideBackslash + "\\");
    EXPECT_EQ(NormaliseDirectory("D:\\"), "D:\\");
}

TEST(TextBufferTest, AppendsAndTakesWholeText) {
    TextBuffer buffer;
    EXPECT_EQ(buffer.getText(), "");
    buffer.append("x");
    buffer.append("y");
    buffer.append("z");
    EXPECT_EQ(buffer.getText(), "xyz");
    EXPECT_EQ(buffer.getText(), "xyz");
    buffer.append("w");
    EXPECT_EQ(buffer.getText(), "xyzw");
    buffer.clear();
    EXPECT_EQ(buffer.getText(), "");
}
