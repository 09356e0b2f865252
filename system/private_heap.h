#pragma once
// A heap of its own: blocks come zero-filled, and destroying the heap frees
// every block at once (a Windows private heap; a block list on POSIX).
#include <cstddef>

class PrivateHeap {
public:
    // Null when the heap cannot be made.
    static PrivateHeap* Create();
    // Frees every block and the heap itself.
    static void Destroy(PrivateHeap* heap);

    // Zero-filled block; null when it cannot be had.
    void* allocate(std::size_t size);
    void free(void* block);

    PrivateHeap(const PrivateHeap&) = delete;
    PrivateHeap& operator=(const PrivateHeap&) = delete;

private:
    explicit PrivateHeap(void* native) : native_(native) {}
    void* native_;
};
