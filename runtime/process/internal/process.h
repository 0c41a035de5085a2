// The program runner's wiring: the program object and the program list, the handle-holding
// registry, and the steps of a launch, open to the tests. Applications use
// runtime/process/process.h.
#pragma once

#include "runtime/core/internal/core.h"
#include "runtime/process/process.h"

// Any of these means the caller wants the child's streams, which the shell cannot give.
constexpr uint32_t LAUNCH_STREAM_MASK =
    LAUNCH_READ_OUTPUT | LAUNCH_WRITE_INPUT | LAUNCH_READ_ERRORS | LAUNCH_CHAIN;

// Process id of a child started through the shell.
constexpr DWORD PROGRAM_SHELL_PROCESS_ID = 0xFFFFFFFF;

// One child started with LAUNCH_OBJECT. It is an item of the program list and its address is
// its identity; it owns every handle in it.
struct ProgramObject {
    HANDLE process;     // null when the shell started nothing new
    DWORD process_id;   // PROGRAM_SHELL_PROCESS_ID when started through the shell
    HANDLE input_pipe;  // our write end of the child's standard input, or null
    HANDLE output_pipe; // our read end of the child's standard output, or null
    HANDLE error_pipe;  // our read end of the child's standard error, or null
    uint32_t flags;     // the launch flags as passed
    // The unit read after a piece of a long line, to see whether the line ended there, when it
    // did not: it begins the next line, and it counts as output that waits.
    uint8_t carried[2];
    uint8_t carried_size;
};

// A record of the handle-holding registry made at initialisation; releasing one closes its
// handle.
struct HandleObject {
    HANDLE handle;
};

// ---------------------------------------------------------------------------------------------
// Steps of a launch, and the program list
// ---------------------------------------------------------------------------------------------

// Swaps a pipe end we keep for a duplicate that children do not inherit; on failure the handle
// stays as it was.
void Program_ProtectHandle(HANDLE* handle);

// The command line for a path and its parameters in a runtime heap block of
// (length of path + length of parameters + 4) units, or null. The caller frees it with
// Runtime_Free.
wchar_t* Program_BuildCommandLine(const wchar_t* program_path, const wchar_t* parameters);

// Writes the folder part of `program_path` (up to and including its last backslash after the
// first character) into `buffer`, which must hold the path, and returns it; null when there is
// none.
const wchar_t* Program_ShellFolder(const wchar_t* program_path, wchar_t* buffer);

// The live program object behind an identity, or null.
ProgramObject* Program_Find(intptr_t program);
// A new zeroed program object linked into the program list, or null; and its undoing.
ProgramObject* Program_NewObject();
void Program_DropObject(ProgramObject* object);

// The registry of handle-holding records made at initialisation (nothing in the program fills
// it).
ObjectRegistry* Program_HandleRegistry();
