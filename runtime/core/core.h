// Runtime core: the runtime heap, the string workspace, the numbered object registry with its
// linked list and library state blocks, OS version and environment services, and the small
// support libraries (map support, thread-local slot, memory library) of the start-up order.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>

// ---------------------------------------------------------------------------------------------
// Runtime heap and module handle
// ---------------------------------------------------------------------------------------------

// Creates the private runtime heap every runtime record comes from. Returns false when the
// system cannot give one.
bool Runtime_CreateHeap();
void Runtime_DestroyHeap();
HANDLE Runtime_Heap();

// The module handle taken first thing at start-up; the libraries register classes with it.
void Runtime_SetModule(HINSTANCE module);
HINSTANCE Runtime_Module();

// An export of a loaded module as a typed function pointer, or null.
template <typename Function> Function Runtime_Proc(HMODULE module, const char* name) {
    return module
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
               : nullptr;
}

// Zeroed block from the runtime heap, or null.
void* Runtime_Alloc(size_t bytes);
void Runtime_Free(void* block);
// Serves the runtime's blocks from `heap` from now on and returns the heap used so far, so that
// a test can make the heap run out.
HANDLE Runtime_ReplaceHeap(HANDLE heap);

// ---------------------------------------------------------------------------------------------
// Strings and the string workspace
// ---------------------------------------------------------------------------------------------

// A runtime string is a UTF-16 text in a block of (length * 2 + 10) bytes from the string heap.
// Null reads as the empty string. String results are never null: on failure they are "".
using RtString = wchar_t*;

void String_Init();
void String_End();

// The workspace: one growable buffer with a current byte position, stored as an offset since
// growing may move the buffer.
size_t String_Position();
size_t String_Capacity();
// Makes sure that a piece of `bytes` bytes fits at the position, growing the buffer by the
// workspace's rule. Returns false when the buffer cannot grow.
bool String_Ensure(size_t bytes);
// Address of the workspace at a byte offset; valid until the next growth.
wchar_t* String_At(size_t offset);
// Moves the position over `units` UTF-16 units already written there (after String_Ensure).
void String_Advance(size_t units);
// Appends UTF-16 units at the position and advances it.
bool String_Append(const wchar_t* text, size_t units);
// Copies the text between `mark` and the position into a new runtime string and moves the
// position back to `mark`.
RtString String_Finish(size_t mark);

// Copies `text` into a new runtime string (never null).
RtString String_Copy(const wchar_t* text);
// Concatenates up to four pieces through the workspace into a new runtime string.
RtString String_Concat(const wchar_t* a, const wchar_t* b, const wchar_t* c = nullptr,
                       const wchar_t* d = nullptr);
void String_Free(RtString text);
size_t String_Length(const wchar_t* text);

// Writes `prefix` and the decimal forms of `values`, separated by colons, into `buffer` of
// `capacity` units; the text is always terminated and cut at the buffer's end. (The C runtime's
// printf family would do, but its 64-bit conversions differ between runtimes.)
void String_Numbers(wchar_t* buffer, size_t capacity, const wchar_t* prefix,
                    std::initializer_list<int64_t> values);

// 1-based position of the first occurrence of `pattern` in `text` at or after `start`
// (clamped to 1 .. length + 1), or 0.
int64_t String_Find(const wchar_t* text, const wchar_t* pattern, int32_t start);

// Owns a runtime string for the length of a scope.
class RtStringOwner {
  public:
    explicit RtStringOwner(RtString text = nullptr) : text_(text) {}
    ~RtStringOwner() { String_Free(text_); }
    RtStringOwner(const RtStringOwner&) = delete;
    RtStringOwner& operator=(const RtStringOwner&) = delete;
    RtStringOwner& operator=(RtString text) {
        String_Free(text_);
        text_ = text;
        return *this;
    }
    const wchar_t* get() const { return text_ ? text_ : L""; }

  private:
    RtString text_;
};

// ---------------------------------------------------------------------------------------------
// Numbered object registry, linked list and library state blocks
// ---------------------------------------------------------------------------------------------

constexpr int64_t ANY_NUMBER = -1;

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

constexpr int64_t VERSION_UNKNOWN = 200;

// The version table as a pure function, so that every row can be checked.
int64_t OS_DecideVersionCode(DWORD platform, DWORD major, DWORD minor, bool workstation);
int OS_GetVersionInfo(OSVERSIONINFOEXW* record);
int64_t OS_VersionCode();

// The system folder as the system reports it (GetSystemDirectoryW), never from a variable that
// anyone starting the program could set; the empty string when it cannot be had.
RtString OS_SystemFolder();
// Lets the process load libraries from the system folder only: neither the program's own
// folder (a download folder, where anyone may have left a DLL of a system library's name) nor
// the current folder nor PATH take part. Called before anything else at start-up. Where the
// system cannot restrict the search (Windows 7 without its update), the current folder at least
// leaves it.
void Runtime_LockDllSearch();
// Loads a library of the system folder at run time, never one of the same name elsewhere; null
// when it is missing.
HMODULE Runtime_LoadSystemLibrary(const wchar_t* name);

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

void Map_Init();
void Tls_Init();
DWORD Tls_Slot();
void Memory_Init();
void Memory_End();
HANDLE Memory_Heap();
