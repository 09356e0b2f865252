#include "payload/packed_input.h"

#include <algorithm>
#include <cstring>

std::size_t SpanInput::read(std::uint8_t* out, std::size_t length) {
    const std::size_t n = std::min(length, span_.size - position_);
    if (n > 0) std::memcpy(out, span_.data + position_, n);
    position_ += n;
    return n;
}

bool FileInput::rewind() {
    position_ = 0;
    file_ = openFile(path_, 1, 1);
    failed_ = !file_.valid() || !openFileSize(file_, size_);
    if (failed_) size_ = 0;
    return !failed_;
}

std::size_t FileInput::read(std::uint8_t* out, std::size_t length) {
    const std::size_t n = std::min(length, size_ - position_);
    if (failed_ || n == 0) return 0;
    if (!readExactly(file_, out, n)) {
        failed_ = true;
        return 0;
    }
    position_ += n;
    return n;
}
