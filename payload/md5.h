#pragma once
// MD5 (RFC 1321) over the system's digest service: CNG on Windows,
// libcrypto on POSIX. Fed in chunks; the result is 32 lowercase hex digits.
#include <cstddef>
#include <memory>

#include "system/text.h"

class Md5 {
public:
    Md5();
    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;

    void update(const void* bytes, std::size_t length);
    // Ends the digest; the object is then spent. Empty text on failure.
    Text finish();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

Text Md5OfBytes(const void* bytes, std::size_t length);
inline Text Md5OfBytes(const ByteBuffer& bytes) { return Md5OfBytes(bytes.data(), bytes.size()); }
