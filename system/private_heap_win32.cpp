#include "system/private_heap.h"

#include <windows.h>

#include <new>

PrivateHeap* PrivateHeap::Create() {
    HANDLE heap = HeapCreate(0, 0, 0);
    if (!heap) return nullptr;
    PrivateHeap* object = new (std::nothrow) PrivateHeap(heap);
    if (!object) HeapDestroy(heap);
    return object;
}

void PrivateHeap::Destroy(PrivateHeap* heap) {
    if (!heap) return;
    HeapDestroy(heap->native_);
    delete heap;
}

void* PrivateHeap::allocate(std::size_t size) { return HeapAlloc(native_, HEAP_ZERO_MEMORY, size ? size : 1); }

void PrivateHeap::free(void* block) {
    if (block) HeapFree(native_, 0, block);
}
