#include "system/text_buffer.h"

#include <algorithm>
#include <limits>

TextBuffer::TextBuffer() { stream_.reserve(kGrowthStep); }

void TextBuffer::append(const Text& text) {
    if (text.empty()) return;
    const std::size_t needed = stream_.size() + text.size();
    // Grow in whole steps, at least doubling so long texts stay linear.
    if (stream_.capacity() < needed) {
        const std::size_t stepped = (needed + kGrowthStep - 1) / kGrowthStep * kGrowthStep;
        stream_.reserve(std::max(stepped, 2 * stream_.capacity()));
    }
    stream_.insert(stream_.end(), text.begin(), text.end());
}

Text TextBuffer::getText() { return Text(stream_.begin(), stream_.end()); }

void TextBuffer::clear() {
    ByteBuffer fresh;
    fresh.reserve(kGrowthStep);
    stream_.swap(fresh);
}

void TextBuffer::destroy() { ByteBuffer().swap(stream_); }

int TextBuffer::length() const {
    constexpr std::size_t kMax = static_cast<std::size_t>(std::numeric_limits<int>::max());
    return static_cast<int>(stream_.size() < kMax ? stream_.size() : kMax);
}

void TextBuffer::setText(const Text& text) {
    clear();
    append(text);
}
