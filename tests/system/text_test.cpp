#include <gtest/gtest.h>

#include <climits>

#include "system/text.h"
#include "system/text_buffer.h"

// Two-byte GBK characters whose second byte is 0x5C ("\") or an ASCII letter.
static const Text kWideBackslash = "\x95\x5C";
static const Text kWideA = "\xC4\x41";

TEST(CharRoutines, CutByCharactersNotBytes) {
    EXPECT_EQ(RightChars("0x1F", 2), "1F");
    EXPECT_EQ(LeftChars("0x1F", 2), "0x");
    EXPECT_EQ(MidChars("ABCD", 2, 2), "BC");
    EXPECT_EQ(MidChars("ABCD", 2, 0), "BCD");
    EXPECT_EQ(MidChars("ABCD", 2, -3), "BCD");
    EXPECT_EQ(MidChars("ABCD", 5, 1), "");
    EXPECT_EQ(LeftChars("AB", 10), "AB");
    EXPECT_EQ(RightChars("AB", 10), "AB");
    EXPECT_EQ(LeftChars("AB", 0), "");
    EXPECT_EQ(RightChars("AB", -1), "");
}

TEST(CharRoutines, TwoByteCharactersStayWhole) {
    const Text mixed = "C:\\" + kWideBackslash + "x" + kWideA;  // 3 + 1 + 1 + 1 characters
    EXPECT_EQ(RightChars(mixed, 1), kWideA);
    EXPECT_EQ(RightChars(mixed, 3), kWideBackslash + "x" + kWideA);
    EXPECT_EQ(RightChars("C:\\" + kWideBackslash, 1), kWideBackslash);
    EXPECT_EQ(LeftChars(kWideBackslash + "x", 1), kWideBackslash);
    EXPECT_EQ(LeftChars(mixed, 4), "C:\\" + kWideBackslash);
    EXPECT_EQ(MidChars(mixed, 4, 2), kWideBackslash + "x");
    EXPECT_EQ(MidChars(mixed, 6, 0), kWideA);
    EXPECT_EQ(MidChars(mixed, 7, 1), "");

    const TextList chars = SplitChars("中a文");
    ASSERT_EQ(chars.size(), 3u);
    EXPECT_EQ(chars[0], "中");
    EXPECT_EQ(chars[0].size(), 2u);
    EXPECT_EQ(chars[1], "a");
    EXPECT_EQ(chars[2], "文");
    // A lead byte at the very end has no partner and stands alone.
    EXPECT_EQ(SplitChars("a\xB0"), (TextList{"a", "\xB0"}));
}

TEST(CharRoutines, TextEndsAtFirstZeroByte) {
    const Text withNul("ab\0cd", 5);
    EXPECT_EQ(TextLength(withNul), 2u);
    EXPECT_EQ(RightChars(withNul, 1), "b");
    EXPECT_EQ(SplitChars(withNul).size(), 2u);
    EXPECT_EQ(LowerAscii(Text("AB\0CD", 5)), "ab");
    EXPECT_EQ(TextFromBytes(withNul.data(), withNul.size()), "ab");
    EXPECT_EQ(HexToBytes(Text("AB\0CD", 5)), ByteBuffer{0xAB});
}

TEST(CharRoutines, BackslashTestSeesTwoByteCharacters) {
    EXPECT_TRUE(EndsWithBackslashChar("C:\\a\\"));
    EXPECT_FALSE(EndsWithBackslashChar("C:\\" + kWideBackslash));
    EXPECT_FALSE(EndsWithBackslashChar(""));
    EXPECT_EQ(NormaliseDirectory("C:/Apps/Tool"), "C:\\Apps\\Tool\\");
    EXPECT_EQ(NormaliseDirectory("C:\\" + kWideBackslash), "C:\\" + kWideBackslash + "\\");
    EXPECT_EQ(NormaliseDirectory("D:\\"), "D:\\");
    EXPECT_EQ(NormaliseDirectory("D:/"), "D:\\");
}

TEST(LowerAsciiTest, FoldsOnlyAsciiLettersOutsideTwoByteCharacters) {
    EXPECT_EQ(LowerAscii("C:\\Program Files\\VantelPA"), "c:\\program files\\vantelpa");
    // 'A' (0x41) as a second byte belongs to a GBK character and stays.
    EXPECT_EQ(LowerAscii("X" + kWideA + "Y"), "x" + kWideA + "y");
    EXPECT_EQ(LowerAscii("防关联ABC"), "防关联abc");
    EXPECT_EQ(LowerAscii("Z\xB0"), "z\xB0");
    EXPECT_EQ(LowerAscii("[@`{"), "[@`{");
}

TEST(FindCharsTest, MatchNeverStartsAtSecondByte) {
    EXPECT_EQ(FindChars("d:\\apps\\vantelpa", "vantelpa"), 9u);
    EXPECT_EQ(FindChars("d:\\apps", "vantelpa"), 0u);
    // 0xB0 takes the 'v' as its second byte, so "vantelpa" is not there.
    EXPECT_EQ(FindChars("\xB0vantelpa", "vantelpa"), 0u);
    EXPECT_EQ(FindChars("\xB0vvantelpa", "vantelpa"), 3u);
    EXPECT_EQ(FindChars("abc", ""), 1u);
    EXPECT_EQ(FindChars("ab", "abc"), 0u);
}

TEST(HexTest, HexToBytesTakesPairs) {
    EXPECT_EQ(HexToBytes("0102FF"), (ByteBuffer{0x01, 0x02, 0xFF}));
    EXPECT_EQ(HexToBytes("aBcD"), (ByteBuffer{0xAB, 0xCD}));
    EXPECT_EQ(HexToBytes("ABC"), ByteBuffer{0xAB});
    EXPECT_TRUE(HexToBytes("A").empty());
    EXPECT_TRUE(HexToBytes("").empty());
}

TEST(HexTest, HexToIntegerTruncatesInDoublePrecision) {
    EXPECT_EQ(HexToInteger("1F"), 31);
    EXPECT_EQ(HexToInteger("1f"), 31);
    EXPECT_EQ(HexToInteger("10"), 16);
    EXPECT_EQ(HexToInteger(""), 0);
    EXPECT_EQ(HexToInteger("FFFFFFFF"), 0xFFFFFFFFLL);
    EXPECT_EQ(HexToInteger("1FFFFFFFFFFFFF"), 0x1FFFFFFFFFFFFFLL);  // 2^53 - 1 is still exact
    // Beyond 2^53 each step rounds to double: these would differ in exact arithmetic.
    EXPECT_EQ(HexToInteger("20000000000001"), 0x20000000000000LL);
    EXPECT_EQ(HexToInteger("FFFFFFFFFFFFFFF"), 0x1000000000000000LL);
    // Past 64 bits the value is defined (no undefined conversion) and stays put.
    EXPECT_EQ(HexToInteger("7FFFFFFFFFFFFFFF"), LLONG_MIN);
    EXPECT_EQ(HexToInteger("FFFFFFFFFFFFFFFFFFFFFFFF1"), LLONG_MIN);
}

TEST(HexTest, BytesToHexIsLowercase) {
    const std::uint8_t bytes[] = {0x00, 0x9A, 0xFF, 0x10};
    EXPECT_EQ(BytesToHex(bytes, sizeof bytes), "009aff10");
    EXPECT_EQ(BytesToHex(bytes, 0), "");
}

TEST(TextBufferTest, AppendsAndTakesWholeText) {
    TextBuffer buffer;
    EXPECT_EQ(buffer.getText(), "");
    buffer.append("x");
    buffer.append("");
    buffer.append("y");
    buffer.append("z");
    EXPECT_EQ(buffer.getText(), "xyz");
    EXPECT_EQ(buffer.getText(), "xyz");
    buffer.append("w");
    EXPECT_EQ(buffer.getText(), "xyzw");
    EXPECT_EQ(buffer.length(), 4);
    buffer.clear();
    EXPECT_EQ(buffer.getText(), "");
    EXPECT_EQ(buffer.length(), 0);
}

TEST(TextBufferTest, KeepsTwoByteCharactersAndReplacesText) {
    TextBuffer buffer;
    for (const Text& ch : SplitChars("升级说明与必看.txt")) buffer.append(ch);
    EXPECT_EQ(buffer.getText(), "升级说明与必看.txt");
    buffer.setText("abc");
    EXPECT_EQ(buffer.getText(), "abc");
    buffer.append("d");
    EXPECT_EQ(buffer.getText(), "abcd");

    // Growth across many steps keeps every byte in order.
    Text expected;
    TextBuffer large;
    for (int i = 0; i < 5000; ++i) {
        const Text piece = std::to_string(i) + ",";
        large.append(piece);
        expected += piece;
    }
    EXPECT_EQ(large.getText(), expected);
    large.destroy();
    EXPECT_EQ(large.getText(), "");
}
