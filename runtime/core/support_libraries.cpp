// The small libraries of the start-up order that nothing in the program reads but that keep
// their place in it: the thread-local slot and the memory library's heap.
#include "runtime/core/internal/core.h"

namespace {

DWORD tls_slot = TLS_OUT_OF_INDEXES;
HANDLE memory_heap = nullptr;

} // namespace

void Tls_Init() {
    tls_slot = TlsAlloc();
}

DWORD Tls_Slot() {
    return tls_slot;
}

void Memory_Init() {
    memory_heap = HeapCreate(0, RUNTIME_HEAP_FIRST_COMMIT, RUNTIME_HEAP_NO_LIMIT);
}

void Memory_End() {
    if (memory_heap) {
        HeapDestroy(memory_heap);
        memory_heap = nullptr;
    }
}

HANDLE Memory_Heap() {
    return memory_heap;
}
