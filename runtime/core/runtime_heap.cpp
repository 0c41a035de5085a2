#include "runtime/core/internal/test_seams.h"

namespace {
HANDLE runtime_heap = nullptr;
HINSTANCE module_instance = nullptr;
} // namespace

bool Runtime_CreateHeap() {
    // Serialised, one page committed at first, no maximum size.
    runtime_heap = HeapCreate(0, RUNTIME_HEAP_FIRST_COMMIT, RUNTIME_HEAP_NO_LIMIT);
    return runtime_heap != nullptr;
}

void Runtime_DestroyHeap() {
    if (runtime_heap) {
        HeapDestroy(runtime_heap);
        runtime_heap = nullptr;
    }
}

HANDLE Runtime_Heap() {
    return runtime_heap;
}

HANDLE& Runtime_HeapSeam() {
    return runtime_heap;
}

void Runtime_SetModule(HINSTANCE module) {
    module_instance = module;
}

HINSTANCE Runtime_Module() {
    return module_instance;
}

void* Runtime_Alloc(size_t bytes) {
    return runtime_heap ? HeapAlloc(runtime_heap, HEAP_ZERO_MEMORY, bytes) : nullptr;
}

void Runtime_Free(void* block) {
    if (block && runtime_heap) {
        HeapFree(runtime_heap, 0, block);
    }
}
