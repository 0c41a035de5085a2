#include "runtime/core/internal/core.h"

#include <cstring>
#include <cwchar>
#include <initializer_list>

namespace {

constexpr size_t kInitialCapacity = 16;
constexpr size_t kGrowthMargin = 4;
constexpr size_t kGrowthStep = 16384;
// Destination strings carry their text plus 10 bytes (terminator and slack).
constexpr size_t kStringSlack = 10;

struct Workspace {
    HANDLE heap;
    char* buffer;
    size_t capacity;
    size_t position; // byte offset into buffer
};

Workspace workspace{};

// Returned when no block can be had, so that string results are never null.
wchar_t empty_text[1] = {L'\0'};

} // namespace

void String_Init() {
    workspace.heap = HeapCreate(0, RUNTIME_HEAP_FIRST_COMMIT, RUNTIME_HEAP_NO_LIMIT);
    workspace.buffer =
        workspace.heap
            ? static_cast<char*>(HeapAlloc(workspace.heap, HEAP_ZERO_MEMORY, kInitialCapacity))
            : nullptr;
    workspace.capacity = workspace.buffer ? kInitialCapacity : 0;
    workspace.position = 0;
}

void String_End() {
    if (workspace.heap) {
        if (workspace.buffer) {
            HeapFree(workspace.heap, 0, workspace.buffer);
        }
        HeapDestroy(workspace.heap);
    }
    workspace = Workspace{};
}

size_t String_Position() {
    return workspace.position;
}

size_t String_Capacity() {
    return workspace.capacity;
}

bool String_Ensure(size_t bytes) {
    if (!workspace.heap) {
        return false;
    }
    const size_t end = workspace.position + bytes;
    // A piece that ends within 4 bytes of the capacity makes the capacity that end plus 16 KiB;
    // the buffer never shrinks.
    if (end + kGrowthMargin < workspace.capacity) {
        return true;
    }
    const size_t capacity = end + kGrowthStep;
    void* grown = workspace.buffer
                      ? HeapReAlloc(workspace.heap, HEAP_ZERO_MEMORY, workspace.buffer, capacity)
                      : HeapAlloc(workspace.heap, HEAP_ZERO_MEMORY, capacity);
    if (!grown) {
        return false;
    }
    workspace.buffer = static_cast<char*>(grown);
    workspace.capacity = capacity;
    return true;
}

wchar_t* String_At(size_t offset) {
    return reinterpret_cast<wchar_t*>(workspace.buffer + offset);
}

void String_Advance(size_t units) {
    workspace.position += units * sizeof(wchar_t);
}

bool String_Append(const wchar_t* text, size_t units) {
    const size_t bytes = units * sizeof(wchar_t);
    // The growth margin keeps room for the terminator written behind the piece.
    if (!String_Ensure(bytes)) {
        return false;
    }
    if (units) {
        std::memcpy(workspace.buffer + workspace.position, text, bytes);
    }
    workspace.position += bytes;
    *String_At(workspace.position) = L'\0';
    return true;
}

RtString String_Finish(size_t mark) {
    const size_t bytes = workspace.position > mark ? workspace.position - mark : 0;
    RtString result = empty_text;
    if (workspace.heap) {
        auto* block = static_cast<wchar_t*>(
            HeapAlloc(workspace.heap, HEAP_ZERO_MEMORY, bytes + kStringSlack));
        if (block) {
            if (bytes) {
                std::memcpy(block, workspace.buffer + mark, bytes);
            }
            result = block;
        }
    }
    workspace.position = mark;
    return result;
}

size_t String_Length(const wchar_t* text) {
    return text ? std::wcslen(text) : 0;
}

RtString String_Copy(const wchar_t* text) {
    return String_Concat(text, nullptr);
}

RtString String_Concat(const wchar_t* a, const wchar_t* b, const wchar_t* c, const wchar_t* d) {
    const size_t mark = String_Position();
    for (const wchar_t* piece : {a, b, c, d}) {
        if (!String_Append(piece, String_Length(piece))) {
            // A piece that did not fit would give a truncated text: give the empty string.
            workspace.position = mark;
            return empty_text;
        }
    }
    return String_Finish(mark);
}

void String_Free(RtString text) {
    if (text && text != empty_text && workspace.heap) {
        HeapFree(workspace.heap, 0, text);
    }
}
