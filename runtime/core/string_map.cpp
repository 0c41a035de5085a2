// Map support: the string-keyed hash map behind the event binding table.
#include "runtime/core/internal/core.h"

#include <cwchar>

namespace {

struct MapEntry {
    MapEntry* next;
    void* value;
    wchar_t* key; // follows the entry in the same block
};

size_t HashOf(const wchar_t* key) {
    size_t hash = 14695981039346656037ull; // FNV-1a
    for (; *key; ++key) {
        hash = (hash ^ static_cast<size_t>(*key)) * 1099511628211ull;
    }
    return hash;
}

} // namespace

struct StringMap {
    size_t bucket_count;
    MapEntry** buckets;
};

StringMap* Map_New(size_t buckets) {
    auto* map = static_cast<StringMap*>(Runtime_Alloc(sizeof(StringMap)));
    if (!map) {
        return nullptr;
    }
    map->buckets = static_cast<MapEntry**>(Runtime_Alloc(sizeof(MapEntry*) * buckets));
    map->bucket_count = map->buckets ? buckets : 0;
    return map;
}

void** Map_Find(StringMap* map, const wchar_t* key) {
    if (!map || !map->bucket_count || !key) {
        return nullptr;
    }
    for (MapEntry* entry = map->buckets[HashOf(key) % map->bucket_count]; entry;
         entry = entry->next) {
        if (std::wcscmp(entry->key, key) == 0) {
            return &entry->value;
        }
    }
    return nullptr;
}

void** Map_Insert(StringMap* map, const wchar_t* key) {
    if (void** found = Map_Find(map, key)) {
        return found;
    }
    if (!map || !map->bucket_count || !key) {
        return nullptr;
    }
    const size_t key_bytes = (std::wcslen(key) + 1) * sizeof(wchar_t);
    auto* entry = static_cast<MapEntry*>(Runtime_Alloc(sizeof(MapEntry) + key_bytes));
    if (!entry) {
        return nullptr;
    }
    entry->key = reinterpret_cast<wchar_t*>(entry + 1);
    std::wmemcpy(entry->key, key, key_bytes / sizeof(wchar_t));
    MapEntry*& bucket = map->buckets[HashOf(key) % map->bucket_count];
    entry->next = bucket;
    bucket = entry;
    return &entry->value;
}

void Map_Delete(StringMap* map, const wchar_t* key) {
    if (!map || !map->bucket_count || !key) {
        return;
    }
    for (MapEntry** link = &map->buckets[HashOf(key) % map->bucket_count]; *link;
         link = &(*link)->next) {
        if (std::wcscmp((*link)->key, key) == 0) {
            MapEntry* gone = *link;
            *link = gone->next;
            Runtime_Free(gone);
            return;
        }
    }
}

void Map_Sweep(StringMap* map, bool (*visit)(void* value, void* context), void* context) {
    if (!map) {
        return;
    }
    for (size_t bucket = 0; bucket < map->bucket_count; ++bucket) {
        for (MapEntry** link = &map->buckets[bucket]; *link;) {
            if (visit((*link)->value, context)) {
                MapEntry* gone = *link;
                *link = gone->next;
                Runtime_Free(gone);
            } else {
                link = &(*link)->next;
            }
        }
    }
}

// Structure copying and clearing never meet a map field in this runtime, so map support has
// nothing to install beyond being present in the start-up order.
void Map_Init() {}
