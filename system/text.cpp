#include "system/text.h"

#include <cstring>

#include "system/text_buffer.h"

namespace {

bool IsLeadByte(unsigned char b) { return b >= 0x80; }

// Byte length of the character that starts at position i.
std::size_t CharLength(const Text& text, std::size_t i) {
    return (IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ? 2 : 1;
}

// Joins characters [first, first + count) through a TextBuffer.
Text JoinChars(const TextList& chars, std::size_t first, std::size_t count) {
    TextBuffer buffer;
    for (std::size_t i = first; i < chars.size() && i - first < count; ++i) buffer.append(chars[i]);
    Text result = buffer.getText();
    buffer.clear();
    return result;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;  // not a hex digit: callers pass only hex digits
}

}  // namespace

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
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = CharLength(text, i);
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

bool EndsWithBackslashChar(const Text& text) { return RightChars(text, 1) == "\\"; }

Text ForwardToBackslashes(Text text) {
    for (char& c : text)
        if (c == '/') c = '\\';
    return text;
}

Text NormaliseDirectory(Text text) {
    text = ForwardToBackslashes(std::move(text));
    if (!EndsWithBackslashChar(text)) text += '\\';
    return text;
}

Text LowerAscii(const Text& text) {
    Text out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        if (IsLeadByte(b)) {
            out += text[i];
            if (i + 1 < text.size()) out += text[++i];
        } else {
            out += (b >= 'A' && b <= 'Z') ? static_cast<char>(b + 32) : static_cast<char>(b);
        }
    }
    return out;
}

std::size_t FindChars(const Text& haystack, const Text& needle) {
    if (needle.empty()) return 1;
    for (std::size_t i = 0; i < haystack.size(); i += CharLength(haystack, i))
        if (haystack.compare(i, needle.size(), needle) == 0) return i + 1;
    return 0;
}

ByteBuffer HexToBytes(const Text& text) {
    ByteBuffer out(text.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<std::uint8_t>(HexDigitValue(text[2 * i]) * 16 + HexDigitValue(text[2 * i + 1]));
    return out;
}

long long HexToInteger(const Text& text) {
    static const char kDigits[] = "0123456789ABCDEF";
    long long value = 0;
    for (const Text& ch : SplitChars(text)) {
        int digit = 0;
        if (ch.size() == 1) {
            char c = ch[0] >= 'a' && ch[0] <= 'z' ? static_cast<char>(ch[0] - 32) : ch[0];
            const char* at = std::strchr(kDigits, c);
            digit = (at && c) ? static_cast<int>(at - kDigits) : 0;
        }
        value = static_cast<long long>(static_cast<double>(value) * 16.0 + digit);
    }
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
