#include "system/private_heap.h"

#include <cstdlib>
#include <new>

namespace {

// Every block carries a link so the heap can free them all together.
struct alignas(std::max_align_t) BlockHeader {
    BlockHeader* prev;
    BlockHeader* next;
};

BlockHeader* HeadOf(void* native) { return static_cast<BlockHeader*>(native); }

}  // namespace

PrivateHeap* PrivateHeap::Create() {
    BlockHeader* head = new (std::nothrow) BlockHeader;
    if (!head) return nullptr;
    head->prev = head->next = head;
    PrivateHeap* object = new (std::nothrow) PrivateHeap(head);
    if (!object) delete head;
    return object;
}

void PrivateHeap::Destroy(PrivateHeap* heap) {
    if (!heap) return;
    BlockHeader* head = HeadOf(heap->native_);
    for (BlockHeader* b = head->next; b != head;) {
        BlockHeader* next = b->next;
        std::free(b);
        b = next;
    }
    delete head;
    delete heap;
}

void* PrivateHeap::allocate(std::size_t size) {
    if (size > static_cast<std::size_t>(-1) - sizeof(BlockHeader)) return nullptr;
    auto* block = static_cast<BlockHeader*>(std::calloc(1, sizeof(BlockHeader) + size));
    if (!block) return nullptr;
    BlockHeader* head = HeadOf(native_);
    block->prev = head;
    block->next = head->next;
    head->next->prev = block;
    head->next = block;
    return block + 1;
}

void PrivateHeap::free(void* pointer) {
    if (!pointer) return;
    BlockHeader* block = static_cast<BlockHeader*>(pointer) - 1;
    block->prev->next = block->next;
    block->next->prev = block->prev;
    std::free(block);
}
