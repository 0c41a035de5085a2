// The runtime core's wiring between the runtime's own libraries: allocation from the runtime
// heap, the string workspace's inner steps, the numbered object registry with its linked list
// and library state blocks, the version table, environment variables, run-time library lookups
// and the support libraries' state. Applications use runtime/core/core.h.
#pragma once

#include "runtime/core/core.h"

#include <initializer_list>

// ---------------------------------------------------------------------------------------------
// Runtime heap, module handle and run-time libraries
// ---------------------------------------------------------------------------------------------

HANDLE Runtime_Heap();
HINSTANCE Runtime_Module();

// The runtime's private heaps start with one page committed and may grow without limit.
constexpr SIZE_T RUNTIME_HEAP_FIRST_COMMIT = 0x1000;
constexpr SIZE_T RUNTIME_HEAP_NO_LIMIT = 0;

// Zeroed block from the runtime heap, or null.
void* Runtime_Alloc(size_t bytes);
void Runtime_Free(void* block);

// An export of a loaded module as a typed function pointer, or null.
template <typename Function> Function Runtime_Proc(HMODULE module, const char* name) {
    return module
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
               : nullptr;
}

// Loads a library of the system folder at run time, never one of the same name elsewhere; null
// when it is missing.
HMODULE Runtime_LoadSystemLibrary(const wchar_t* name);

// ---------------------------------------------------------------------------------------------
// The string workspace's inner steps
// ---------------------------------------------------------------------------------------------

size_t String_Capacity();
// Makes sure that a piece of `bytes` bytes fits at the position, growing the buffer by the
// workspace's rule. Returns false when the buffer cannot grow.
bool String_Ensure(size_t bytes);
// Address of the workspace at a byte offset; valid until the next growth.
wchar_t* String_At(size_t offset);
// Moves the position over `units` UTF-16 units already written there (after String_Ensure).
void String_Advance(size_t units);

// Writes `prefix` and the decimal forms of `values`, separated by colons, into `buffer` of
// `capacity` units; the text is always terminated and cut at the buffer's end. (The C runtime's
// printf family would do, but its 64-bit conversions differ between runtimes.)
void String_Numbers(wchar_t* buffer, size_t capacity, const wchar_t* prefix,
                    std::initializer_list<int64_t> values);

// ---------------------------------------------------------------------------------------------
// Numbered object registry, linked list and library state blocks
// ---------------------------------------------------------------------------------------------

using Objects_ReleaseProc = void (*)(int64_t identity);
using Objects_StateProc = void (*)(void* block);

struct ObjectRegistry {
    int32_t record_size;
    int32_t growth_step;
    int64_t capacity;
    void** slots;
    void* any_list; // first record of the ANY_NUMBER list
    Objects_ReleaseProc release;
    int64_t cursor;
};

ObjectRegistry* Objects_NewRegistry(int32_t record_size, int32_t growth_step,
                                    Objects_ReleaseProc release);
void* Objects_Create(ObjectRegistry* registry, int64_t number);
void* Objects_Get(ObjectRegistry* registry, int64_t identity);
void Objects_Remove(ObjectRegistry* registry, int64_t identity);
void Objects_ReleaseAll(ObjectRegistry* registry);
void Objects_Rewind(ObjectRegistry* registry);
void* Objects_Next(ObjectRegistry* registry, int64_t* identity);
// The live record whose operating-system handle (its first field, as a static_assert beside
// each such record kind checks) is `handle`, or null; its identity goes to `identity` when one is
// found. What the system tells about a handle is all that is asked: nothing that another program
// can write on a window takes part.
void* Objects_FindHandle(ObjectRegistry* registry, const void* handle, int64_t* identity);

// The list is known by its first record (null when empty); link headers sit in front of the
// records.
void* Objects_ListAdd(void** head, size_t item_size);
void Objects_ListRemove(void** head, void* record);
void* Objects_ListContains(void* head, const void* record);
// The record after `record` in its list, or null.
void* Objects_ListNext(const void* record);

void* Objects_NewState(size_t size, Objects_StateProc initialiser, Objects_StateProc finaliser);
void* Objects_State(void* block);

// ---------------------------------------------------------------------------------------------
// OS version and environment
// ---------------------------------------------------------------------------------------------

// The version table as a pure function, so that every row can be checked.
int64_t OS_DecideVersionCode(DWORD platform, DWORD major, DWORD minor, bool workstation);
// Fills the record from RtlGetVersion: 1, or 0 when it is missing or fails (the record is zeroed
// and its size set either way).
int OS_GetVersionInfo(OSVERSIONINFOEXW* record);

RtString Env_Get(const wchar_t* name);
BOOL Env_Set(const wchar_t* name, const wchar_t* value);
void Env_Unset(const wchar_t* name);

// ---------------------------------------------------------------------------------------------
// Support libraries of the start-up order
// ---------------------------------------------------------------------------------------------

// String-keyed hash map with a fixed bucket count; values are owned by the caller.
struct StringMap;
StringMap* Map_New(size_t buckets);
void** Map_Find(StringMap* map, const wchar_t* key);   // slot of the value, or null
void** Map_Insert(StringMap* map, const wchar_t* key); // slot, made when missing
void Map_Delete(StringMap* map, const wchar_t* key);
// Calls `visit` for every entry; an entry for which it returns true is deleted.
void Map_Sweep(StringMap* map, bool (*visit)(void* value, void* context), void* context);

DWORD Tls_Slot();
HANDLE Memory_Heap();
