#include "system/text_buffer.h"

TextBuffer::TextBuffer() { stream_.reserve(kGrowthStep); }

void TextBuffer::append(const Text& text) {
    if (text.empty()) return;
    if (stream_.capacity() < position_ + text.size())
        stream_.reserve((position_ + text.size() + kGrowthStep - 1) / kGrowthStep * kGrowthStep);
    stream_.resize(position_);
    stream_.insert(stream_.end(), text.begin(), text.end());
    position_ = stream_.size();
}

Text TextBuffer::getText() {
    position_ = stream_.size();
    return Text(stream_.begin(), stream_.end());
}

void TextBuffer::clear() {
    ByteBuffer fresh;
    fresh.reserve(kGrowthStep);
    stream_.swap(fresh);
    position_ = 0;
}

int TextBuffer::length() const { return static_cast<int>(stream_.size()); }

void TextBuffer::setText(const Text& text) {
    clear();
    append(text);
}
