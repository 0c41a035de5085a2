// The program runner, as an application uses it: starts child programs, optionally with pipes
// for their standard streams, and reports on them (running state, waiting output, output lines)
// until they are released. The runner's wiring (the program object, the steps of a launch) is in
// runtime/process/internal/process.h.
#pragma once

#include "runtime/core/core.h"

#include <cstdint>

// ---------------------------------------------------------------------------------------------
// Launch flags
// ---------------------------------------------------------------------------------------------

// Waits without limit for the child to end. A child that fills a pipe nobody reads meanwhile
// never ends, so with the pipe flags it suits only children that write little.
constexpr uint32_t LAUNCH_WAIT = 1;
constexpr uint32_t LAUNCH_HIDE = 2;
constexpr uint32_t LAUNCH_OBJECT = 4;
constexpr uint32_t LAUNCH_READ_OUTPUT = 8;
constexpr uint32_t LAUNCH_WRITE_INPUT = 16;
constexpr uint32_t LAUNCH_READ_ERRORS = 32;
constexpr uint32_t LAUNCH_CHAIN = 64;
constexpr uint32_t LAUNCH_TEXT_ANSI = 128;
constexpr uint32_t LAUNCH_TEXT_UTF8 = 256;
constexpr uint32_t LAUNCH_TEXT_UTF16 = 512;

// ---------------------------------------------------------------------------------------------
// Program objects
// ---------------------------------------------------------------------------------------------

void Program_Init();
void Program_End();

// Starts a child. Returns the program object's address with LAUNCH_OBJECT, 1 when the child was
// started without it, and 0 when nothing was started. Null strings read as empty; an empty
// working folder means the caller's current folder. `sender_program` is read only with
// LAUNCH_CHAIN. A stream that the flags ask to connect to a pipe (with LAUNCH_OBJECT) but whose
// pipe cannot be made starts nothing: a child whose output nobody could read must not run.
intptr_t Program_Launch(const wchar_t* program_path, const wchar_t* parameters = L"",
                        const wchar_t* working_folder = L"", uint32_t flags = 0,
                        intptr_t sender_program = 0);

// `program` when it is a live program object, otherwise 0. Any value may be passed.
intptr_t Program_IsValid(intptr_t program);
// 1 while the child runs, and after it has ended for as long as its output pipe holds bytes.
int Program_IsRunning(intptr_t program);
// Bytes waiting in the output pipe, 0 when none, without an output pipe or on failure.
int64_t Program_AvailableOutput(intptr_t program);
// The longest line, in units read from the pipe (bytes, or UTF-16 units), that
// Program_ReadLine returns in one piece. A longer line is split: it comes back in pieces of this
// length, each as a line of its own, and no unit is lost. A piece never ends inside a character:
// when its last unit begins one (a UTF-8 sequence, a surrogate pair, a double-byte character),
// the piece takes the rest of that character too, up to 3 units more. A line end right after a
// piece goes with it, so that no empty line appears that the child did not write. No console
// tool writes such lines; the bound keeps every length within what the system's conversions
// take.
constexpr size_t PROGRAM_LONGEST_LINE = size_t{1} << 20;

// The next output line without its line end, decoded by the object's text format; the empty
// string when nothing could be read. Blocks until a line feed or the end of the output, and
// after a piece of a longer line until the next unit shows whether the line ends there. Every
// call that finds output takes some from the pipe, even when the heap has no room for a line
// buffer (the line then comes in pieces of 4095 units), so that a caller polling the pipe
// always sees it drain.
RtString Program_ReadLine(intptr_t program);
// Closes the object's handles and forgets it; the child goes on running.
void Program_Release(intptr_t program);
