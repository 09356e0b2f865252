#pragma once
// A growable in-memory text stream: append pieces, take the whole text.
#include "system/text.h"

class TextBuffer {
public:
    TextBuffer();
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;

    void append(const Text& text);
    Text getText();
    void clear();
    int length() const;
    void setText(const Text& text);
    const ByteBuffer& streamHandle() const { return stream_; }

private:
    static constexpr std::size_t kGrowthStep = 1024;
    ByteBuffer stream_;
    std::size_t position_ = 0;
};
