#include "runtime/core/internal/core.h"

namespace {

// Every list item is one block: this header, then the item's record.
struct ListLink {
    ListLink* next;
    ListLink* previous;
};

ListLink* LinkOf(const void* record) {
    return reinterpret_cast<ListLink*>(const_cast<char*>(static_cast<const char*>(record)) -
                                       sizeof(ListLink));
}

void* RecordOf(ListLink* link) {
    return reinterpret_cast<char*>(link) + sizeof(ListLink);
}

} // namespace

void* Objects_ListAdd(void** head, size_t item_size) {
    auto* link = static_cast<ListLink*>(Runtime_Alloc(sizeof(ListLink) + item_size));
    if (!link) {
        return nullptr;
    }
    if (*head) {
        ListLink* first = LinkOf(*head);
        first->previous = link;
        link->next = first;
    }
    *head = RecordOf(link);
    return *head;
}

void Objects_ListRemove(void** head, void* record) {
    if (!*head || !record) {
        return;
    }
    ListLink* link = LinkOf(record);
    if (RecordOf(link) == *head) {
        *head = link->next ? RecordOf(link->next) : nullptr;
        if (link->next) {
            link->next->previous = nullptr;
        }
    } else {
        if (link->previous) {
            link->previous->next = link->next;
        }
        if (link->next) {
            link->next->previous = link->previous;
        }
    }
    Runtime_Free(link);
}

void* Objects_ListContains(void* head, const void* record) {
    // The candidate is only compared, never read through, so any value may be asked about.
    for (ListLink* link = head ? LinkOf(head) : nullptr; link; link = link->next) {
        if (RecordOf(link) == record) {
            return const_cast<void*>(record);
        }
    }
    return nullptr;
}

void* Objects_ListNext(const void* record) {
    ListLink* next = record ? LinkOf(record)->next : nullptr;
    return next ? RecordOf(next) : nullptr;
}

void* Objects_NewState(size_t size, Objects_StateProc initialiser, Objects_StateProc) {
    // The finaliser is accepted for symmetry; state blocks live until the heap goes.
    void* block = Runtime_Alloc(size);
    if (block && initialiser) {
        initialiser(block);
    }
    return block;
}

void* Objects_State(void* block) {
    return block;
}
