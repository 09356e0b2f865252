#include "payload/packed_input.h"

#include <algorithm>
#include <cstring>

std::size_t SpanInput::read(std::uint8_t* out, std::size_t length) {
    const std::size_t n = std::min(length, span_.size - position_);
    if (n > 0) std::memcpy(out, span_.data + position_, n);
    position_ += n;
    return n;
}

FileInput::FileInput(const Text& path) : path_(path) {
    // Others may read it meanwhile, but not change it (where the system enforces that).
    file_ = openFile(path_, 1, 3);
    failed_ = !file_.valid() || !openFileIdentity(file_, identity_) || !openFileSize(file_, size_) ||
              size_ != identity_.size;
    if (failed_) size_ = 0;
}

bool FileInput::unchanged() const {
    FileIdentity now, named;
    return file_.valid() && openFileIdentity(file_, now) && now.sameState(identity_) &&
           pathIdentity(path_, named) && named.sameFile(identity_);
}

bool FileInput::rewind() {
    position_ = 0;
    failed_ = failed_ || !unchanged() || !seekOpenFile(file_, 0);
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
