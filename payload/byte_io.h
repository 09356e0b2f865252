#pragma once
// Little-endian 32-bit words and allocations that report failure instead
// of throwing.
#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>

#include "system/text.h"

inline std::uint32_t ReadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline void WriteLe32(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
    p[2] = static_cast<std::uint8_t>(value >> 16);
    p[3] = static_cast<std::uint8_t>(value >> 24);
}

// Resizes the buffer; false (buffer unchanged) when the memory cannot be had.
inline bool TryResize(ByteBuffer& buffer, std::size_t size) noexcept {
    try {
        buffer.resize(size);
        return true;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    return false;
}
