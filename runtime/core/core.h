// Runtime core, as an application uses it: the runtime heap and the module handle, the locked
// library search, runtime strings and the string workspace, the OS version and the system folder,
// and the support libraries of the start-up order. The runtime's own wiring (the object registry,
// allocation, the workspace's inner steps) is in runtime/core/internal/core.h.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------------------------
// Runtime heap, module handle and library search
// ---------------------------------------------------------------------------------------------

// Creates the private runtime heap every runtime record comes from. Returns false when the
// system cannot give one.
bool Runtime_CreateHeap();
void Runtime_DestroyHeap();

// The module handle taken first thing at start-up; the libraries register classes with it.
void Runtime_SetModule(HINSTANCE module);

// Lets the process load libraries from the system folder only: neither the program's own
// folder (a download folder, where anyone may have left a DLL of a system library's name) nor
// the current folder nor PATH take part. Called before anything else at start-up. Where the
// system cannot restrict the search (Windows 7 without its update), the current folder at least
// leaves it.
void Runtime_LockDllSearch();

// Passed for an object number: a new object named by its record's address, or, to a release,
// every object of the kind.
constexpr int64_t ANY_NUMBER = -1;

// ---------------------------------------------------------------------------------------------
// Strings and the string workspace
// ---------------------------------------------------------------------------------------------

// A runtime string is a UTF-16 text in a block of (length * 2 + 10) bytes from the string heap.
// Null reads as the empty string. String results are never null: on failure they are "".
using RtString = wchar_t*;

void String_Init();
void String_End();

// The workspace: one growable buffer with a current byte position, stored as an offset since
// growing may move the buffer. A text is built by appending at the position and then taken out
// with String_Finish.
size_t String_Position();
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
// OS version and system folder
// ---------------------------------------------------------------------------------------------

// The running Windows as one code: 80 is Windows 7, 90 Windows 8, 110 any version 10.0;
// VERSION_UNKNOWN when the version cannot be read or is not in the table.
constexpr int64_t VERSION_UNKNOWN = 200;
int64_t OS_VersionCode();

// The system folder as the system reports it (GetSystemDirectoryW), never from a variable that
// anyone starting the program could set; the empty string when it cannot be had.
RtString OS_SystemFolder();

// ---------------------------------------------------------------------------------------------
// Support libraries of the start-up order
// ---------------------------------------------------------------------------------------------

void Map_Init();
void Tls_Init();
void Memory_Init();
void Memory_End();
