#include "runtime/core/internal/core.h"

#include <cstring>

namespace {

// Numbers index a table that reaches up to them; larger ones are refused rather than
// allocating a table of gigabytes.
constexpr int64_t kHighestNumber = (int64_t{1} << 24) - 1;

bool IsSlotNumber(const ObjectRegistry* registry, int64_t identity) {
    return identity >= 0 && identity < registry->capacity;
}

// Identities outside the table are record addresses; only those the registry handed out (items
// of its ANY_NUMBER list) are accepted, so an arbitrary value is never read through.
void* AnyRecord(const ObjectRegistry* registry, int64_t identity) {
    if (identity == ANY_NUMBER) {
        return nullptr;
    }
    return Objects_ListContains(registry->any_list, reinterpret_cast<const void*>(identity));
}

bool IsLive(const void* record) {
    return record && *static_cast<void* const*>(record) != nullptr;
}

} // namespace

ObjectRegistry* Objects_NewRegistry(int32_t record_size, int32_t growth_step,
                                    Objects_ReleaseProc release) {
    auto* registry = static_cast<ObjectRegistry*>(Runtime_Alloc(sizeof(ObjectRegistry)));
    if (!registry) {
        return nullptr;
    }
    registry->record_size = record_size;
    registry->growth_step = growth_step;
    registry->release = release;
    registry->slots = static_cast<void**>(Runtime_Alloc(sizeof(void*) * growth_step));
    registry->capacity = registry->slots ? growth_step : 0;
    return registry;
}

void* Objects_Create(ObjectRegistry* registry, int64_t number) {
    if (!registry) {
        return nullptr;
    }
    if (number == ANY_NUMBER) {
        return Objects_ListAdd(&registry->any_list, registry->record_size);
    }
    if (number < 0 || number > kHighestNumber) {
        return nullptr;
    }
    if (number >= registry->capacity) {
        const int64_t capacity = number + registry->growth_step;
        const size_t bytes = sizeof(void*) * static_cast<size_t>(capacity);
        void* grown = registry->slots
                          ? HeapReAlloc(Runtime_Heap(), HEAP_ZERO_MEMORY, registry->slots, bytes)
                          : Runtime_Alloc(bytes);
        if (!grown) {
            return nullptr;
        }
        registry->slots = static_cast<void**>(grown);
        registry->capacity = capacity;
    }
    if (registry->slots[number]) {
        // The release operation clears a live record, so the caller gets it back zeroed. It may
        // create objects of its own and so move the table: the slot is read again afterwards.
        if (registry->release) {
            registry->release(number);
        }
        return registry->slots[number];
    }
    registry->slots[number] = Runtime_Alloc(static_cast<size_t>(registry->record_size));
    return registry->slots[number];
}

void* Objects_Get(ObjectRegistry* registry, int64_t identity) {
    if (!registry) {
        return nullptr;
    }
    void* candidate = IsSlotNumber(registry, identity) ? registry->slots[identity]
                                                       : AnyRecord(registry, identity);
    return IsLive(candidate) ? candidate : nullptr;
}

void Objects_Remove(ObjectRegistry* registry, int64_t identity) {
    if (!registry) {
        return;
    }
    if (IsSlotNumber(registry, identity)) {
        if (void* record = registry->slots[identity]) {
            std::memset(record, 0, static_cast<size_t>(registry->record_size));
        }
        return;
    }
    if (void* record = AnyRecord(registry, identity)) {
        Objects_ListRemove(&registry->any_list, record);
    }
}

void Objects_Rewind(ObjectRegistry* registry) {
    if (registry) {
        registry->cursor = 0;
    }
}

void* Objects_Next(ObjectRegistry* registry, int64_t* identity) {
    if (!registry) {
        return nullptr;
    }
    while (registry->cursor >= 0 && registry->cursor < registry->capacity) {
        const int64_t index = registry->cursor++;
        if (IsLive(registry->slots[index])) {
            *identity = index;
            return registry->slots[index];
        }
    }
    // The cursor stays put on the list: its first record comes back until it is removed.
    if (registry->any_list) {
        *identity = reinterpret_cast<int64_t>(registry->any_list);
        return registry->any_list;
    }
    return nullptr;
}

void* Objects_FindHandle(ObjectRegistry* registry, const void* handle, int64_t* identity) {
    if (!registry || !handle) {
        return nullptr;
    }
    const auto holds = [handle](const void* record) {
        return record && *static_cast<void* const*>(record) == handle;
    };
    // A walk of its own: the enumeration cursor may be in use by a release going on meanwhile.
    for (int64_t index = 0; index < registry->capacity; ++index) {
        if (holds(registry->slots[index])) {
            *identity = index;
            return registry->slots[index];
        }
    }
    for (void* record = registry->any_list; record; record = Objects_ListNext(record)) {
        if (holds(record)) {
            *identity = reinterpret_cast<int64_t>(record);
            return record;
        }
    }
    return nullptr;
}

void Objects_ReleaseAll(ObjectRegistry* registry) {
    if (!registry || !registry->release) {
        return;
    }
    Objects_Rewind(registry);
    int64_t identity = 0;
    void* previous_any = nullptr;
    while (void* record = Objects_Next(registry, &identity)) {
        // A release that does not remove its ANY_NUMBER record would be handed the same record
        // for ever; take it off the list ourselves so the loop always ends.
        if (record == previous_any) {
            Objects_ListRemove(&registry->any_list, record);
            previous_any = nullptr;
            continue;
        }
        if (identity == reinterpret_cast<int64_t>(record)) {
            previous_any = record;
        }
        registry->release(identity);
    }
}
