#pragma once
// Texts are byte strings in the ANSI code page (GBK); positions count from 1.
// A byte of 0x80 or above starts a two-byte character.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Text = std::string;
using ByteBuffer = std::vector<std::uint8_t>;
using TextList = std::vector<Text>;

// A text ends at its first zero byte: its length in bytes up to there.
std::size_t TextLength(const Text& text);
// A text read from raw bytes ends at its first zero byte.
Text TextFromBytes(const void* bytes, std::size_t length);
Text TextFromBytes(const ByteBuffer& bytes);
ByteBuffer BytesFromText(const Text& text);

// Character-wise routines (two-byte characters are kept whole). A lead
// byte with nothing after it counts as a one-byte character.
TextList SplitChars(const Text& text);
Text LeftChars(const Text& text, long long n);
Text RightChars(const Text& text, long long n);
Text MidChars(const Text& text, long long start, long long n);

// True when the last character (not the last byte) is a backslash.
bool EndsWithBackslashChar(const Text& text);
// Where the run of backslash characters that ends the text begins (the
// text's length when it does not end with one). One pass, no allocation.
std::size_t TrailingBackslashesStart(const Text& text);
// Every "/" becomes "\".
Text ForwardToBackslashes(Text text);
// "/" to "\" and a final "\" added unless the last character is one.
Text NormaliseDirectory(Text text);

// Only 'A'..'Z' are folded; the byte after a lead byte is copied unchanged.
Text LowerAscii(const Text& text);
// Position (from 1) of needle in haystack, stepping over two-byte
// characters whole so a match never starts at a second byte; 0 if none.
std::size_t FindChars(const Text& haystack, const Text& needle);

// Pairs of hex digits to bytes; an odd last character is ignored.
ByteBuffer HexToBytes(const Text& text);
// Hex digits to a number, in double precision truncated after every step,
// so digits beyond 2^53 lose precision. A step whose value no longer fits
// in 64 bits gives the integer-indefinite value INT64_MIN (what the x86
// conversion yields), and the value then stays there.
long long HexToInteger(const Text& text);
// Lowercase hex digits of the bytes.
Text BytesToHex(const std::uint8_t* bytes, std::size_t length);
