#include "system/text.h"

#include <cstring>
#include <limits>

#include "system/text_buffer.h"

namespace {

bool IsLeadByte(unsigned char b) { return b >= 0x80; }

// Byte length of the character that starts at index i of a text of
// `size` bytes.
std::size_t CharLength(const Text& text, std::size_t i, std::size_t size) {
    return (IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < size) ? 2 : 1;
}

// Characters [first, first + count) joined through a TextBuffer, the way
// every character-wise routine builds its result.
Text JoinChars(const TextList& chars, std::size_t first, std::size_t count) {
    TextBuffer buffer;
    for (std::size_t i = first; i < chars.size() && i - first < count; ++i) buffer.append(chars[i]);
    Text result = buffer.getText();
    buffer.clear();
    buffer.destroy();
    return result;
}

// Callers pass only hex digits; anything else counts as 0.
int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

// One step of the hex conversion: value * 16 + digit in double precision,
// truncated to 64 bits. Converting an out-of-range double is undefined in
// C++, so that case is answered explicitly with the x86 result. The
// volatile stores round x87 intermediates to double on 32-bit x86.
long long HexStep(long long value, int digit) {
    volatile double scaled = static_cast<double>(value) * 16.0;
    volatile double next = scaled + digit;
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (!(next < kTwoTo63 && next >= -kTwoTo63)) return std::numeric_limits<long long>::min();
    return static_cast<long long>(next);
}

}  // namespace

std::size_t TextLength(const Text& text) {
    const std::size_t nul = text.find('\0');
    return nul == Text::npos ? text.size() : nul;
}

Text TextFromBytes(const void* bytes, std::size_t length) {
    const char* p = static_cast<const char*>(bytes);
    if (p == nullptr) return Text();
    const void* nul = std::memchr(p, 0, length);
    return Text(p, nul ? static_cast<const char*>(nul) - p : length);
}

Text TextFromBytes(const ByteBuffer& bytes) { return TextFromBytes(bytes.data(), bytes.size()); }

ByteBuffer BytesFromText(const Text& text) { return ByteBuffer(text.begin(), text.end()); }

TextList SplitChars(const Text& text) {
    TextList chars;
    const std::size_t size = TextLength(text);
    for (std::size_t i = 0; i < size;) {
        std::size_t n = CharLength(text, i, size);
        chars.push_back(text.substr(i, n));
        i += n;
    }
    return chars;
}

Text LeftChars(const Text& text, long long n) {
    if (n <= 0) return Text();
    TextList chars = SplitChars(text);
    return JoinChars(chars, 0, static_cast<std::size_t>(n));
}

Text RightChars(const Text& text, long long n) {
    if (n <= 0) return Text();
    TextList chars = SplitChars(text);
    std::size_t keep = static_cast<std::size_t>(n) < chars.size() ? static_cast<std::size_t>(n) : chars.size();
    return JoinChars(chars, chars.size() - keep, keep);
}

Text MidChars(const Text& text, long long start, long long n) {
    TextList chars = SplitChars(text);
    if (start < 1 || static_cast<std::size_t>(start) > chars.size()) return Text();
    std::size_t count = n <= 0 ? chars.size() : static_cast<std::size_t>(n);
    return JoinChars(chars, static_cast<std::size_t>(start - 1), count);
}

std::size_t TrailingBackslashesStart(const Text& text) {
    const std::size_t size = TextLength(text);
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < size;) {
        const std::size_t n = CharLength(text, i, size);
        if (n == 2 || text[i] != '\\') runStart = i + n;
        i += n;
    }
    return runStart == size ? text.size() : runStart;
}

bool EndsWithBackslashChar(const Text& text) { return TrailingBackslashesStart(text) < TextLength(text); }

Text ForwardToBackslashes(Text text) {
    for (char& c : text)
        if (c == '/') c = '\\';
    return text;
}

Text NormaliseDirectory(Text text) {
    text.resize(TextLength(text));
    text = ForwardToBackslashes(std::move(text));
    if (!EndsWithBackslashChar(text)) text += '\\';
    return text;
}

Text LowerAscii(const Text& text) {
    const std::size_t size = TextLength(text);
    Text out;
    out.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        if (IsLeadByte(b)) {
            out += text[i];
            if (i + 1 < size) out += text[++i];
        } else {
            out += (b >= 'A' && b <= 'Z') ? static_cast<char>(b + 32) : static_cast<char>(b);
        }
    }
    return out;
}

std::size_t FindChars(const Text& haystack, const Text& needle) {
    const std::size_t size = TextLength(haystack);
    const std::size_t wanted = TextLength(needle);
    if (wanted == 0) return 1;
    for (std::size_t i = 0; i + wanted <= size; i += CharLength(haystack, i, size))
        if (haystack.compare(i, wanted, needle, 0, wanted) == 0) return i + 1;
    return 0;
}

ByteBuffer HexToBytes(const Text& text) {
    ByteBuffer out(TextLength(text) / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<std::uint8_t>(HexDigitValue(text[2 * i]) * 16 + HexDigitValue(text[2 * i + 1]));
    return out;
}

long long HexToInteger(const Text& text) {
    long long value = 0;
    for (const Text& ch : SplitChars(text)) value = HexStep(value, ch.size() == 1 ? HexDigitValue(ch[0]) : 0);
    return value;
}

Text BytesToHex(const std::uint8_t* bytes, std::size_t length) {
    static const char kDigits[] = "0123456789abcdef";
    Text out(length * 2, '0');
    for (std::size_t i = 0; i < length; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 15];
    }
    return out;
}
