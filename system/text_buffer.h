#pragma once
// A growable in-memory text stream: append pieces, take the whole text.
// Texts are stored without terminating zero bytes.
#include "system/text.h"

class TextBuffer {
public:
    TextBuffer();
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;

    // Writes at the current position, which is always the end of the content.
    void append(const Text& text);
    // The whole content; the position stays at its end.
    Text getText();
    // Replaces the stream with a new, empty one.
    void clear();
    // Releases the stream's storage; the buffer is then empty (the
    // destructor does the same).
    void destroy();
    int length() const;
    // The content becomes exactly the text.
    void setText(const Text& text);
    const ByteBuffer& streamHandle() const { return stream_; }

private:
    static constexpr std::size_t kGrowthStep = 1024;
    ByteBuffer stream_;
};
