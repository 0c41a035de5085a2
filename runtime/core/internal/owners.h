// Small scope owners for what the runtime's files take and must give back on every path: a
// kernel handle, a block of the runtime heap. Neither can be copied: one owner, one release.
#pragma once

#include "runtime/core/internal/core.h"

#include <utility>

// Owns one kernel handle that may be null; closes it unless it was handed on.
class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE get() const { return handle_; }
    // Closes the handle held, for a call that gives a new one.
    HANDLE* put() {
        reset();
        return &handle_;
    }
    // The handle in place, for calls that swap it.
    HANDLE* address() { return &handle_; }
    HANDLE release() { return std::exchange(handle_, nullptr); }
    void reset() {
        if (handle_) {
            CloseHandle(std::exchange(handle_, nullptr));
        }
    }

  private:
    HANDLE handle_ = nullptr;
};

// Owns a block of the runtime heap that may be null, and frees it at the end of the scope.
template <typename Item> class RuntimeBlock {
  public:
    explicit RuntimeBlock(Item* block) : block_(block) {}
    // A zeroed block of `count` items.
    static RuntimeBlock Of(size_t count) {
        return RuntimeBlock(static_cast<Item*>(Runtime_Alloc(sizeof(Item) * count)));
    }
    ~RuntimeBlock() { Runtime_Free(block_); }
    RuntimeBlock(const RuntimeBlock&) = delete;
    RuntimeBlock& operator=(const RuntimeBlock&) = delete;
    Item* get() const { return block_; }

  private:
    Item* block_;
};
