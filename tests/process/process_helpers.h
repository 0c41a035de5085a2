// Helpers shared by the program runner's tests and its soak program: where the stand-in tool
// is, environment settings that undo themselves, and the two resource gauges (handles held by
// this process, bytes in use on the runtime heap).
#pragma once

#include "support/window_driver.h"

#include "app/app.h"
#include "runtime/process/internal/process.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

namespace process_test {

inline std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return length && length < MAX_PATH ? std::wstring(full, length) : path;
}

// The stand-in tool.
inline std::wstring StandinPath() {
    return FullPath(driver::StandinFile());
}

// Points the application's tool path elsewhere (the stand-in, a missing tool, nothing) for as
// long as it lives; the program's own path is built again afterwards.
class ToolPath {
  public:
    explicit ToolPath(const std::wstring& path) {
        App_BuildStrings(); // the argument prefix and the tool folder, as at start-up
        Use(path.c_str());
    }
    ~ToolPath() { App_BuildStrings(); }
    ToolPath(const ToolPath&) = delete;
    ToolPath& operator=(const ToolPath&) = delete;
    void Use(const wchar_t* path) {
        String_Free(App_State().tool_path);
        App_State().tool_path = String_Copy(path);
    }
};

// Sets an environment variable (null removes it) and puts the old state back on destruction.
class ScopedVariable {
  public:
    ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
        wchar_t buffer[32768];
        const DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
        had_value_ = length != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
        old_value_.assign(buffer, length < 32768 ? length : 0);
        SetEnvironmentVariableW(name, value);
    }
    ~ScopedVariable() {
        SetEnvironmentVariableW(name_.c_str(), had_value_ ? old_value_.c_str() : nullptr);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    std::wstring name_;
    std::wstring old_value_;
    bool had_value_ = false;
};

// A file name in the temporary folder that is deleted again.
class TempFile {
  public:
    explicit TempFile(const wchar_t* prefix) {
        wchar_t folder[MAX_PATH] = {};
        wchar_t path[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, folder);
        GetTempFileNameW(folder, prefix, 0, path);
        path_ = path;
    }
    ~TempFile() { DeleteFileW(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::wstring& path() const { return path_; }

    std::string Read() const { return driver::FileBytes(path_); }

  private:
    std::wstring path_;
};

using driver::Utf8;

// Gives this process a hidden console of its own unless it has one, so that a child that shares
// its parent's console can be told from one that got a new console. Without it sharing could not
// be seen: a console program started by a process without a console gets a new console anyway
// on Windows, and none under Wine. The standard handles stay as they were.
inline void OwnConsole() {
    DWORD attached = 0;
    if (GetConsoleProcessList(&attached, 1)) {
        return;
    }
    const DWORD streams[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE handles[3] = {};
    for (int i = 0; i < 3; ++i) {
        handles[i] = GetStdHandle(streams[i]);
    }
    // Wine gives a process started from Unix a console reference that no console answers on,
    // and AllocConsole refuses to replace it.
    FreeConsole();
    if (AllocConsole()) {
        ShowWindow(GetConsoleWindow(), SW_HIDE);
    }
    for (int i = 0; i < 3; ++i) {
        SetStdHandle(streams[i], handles[i]);
    }
}

// Handles this process holds.
inline DWORD HandleCount() {
    return driver::HandleCountOf(GetCurrentProcess());
}

// Bytes in busy blocks of the runtime heap.
inline size_t RuntimeHeapInUse() {
    HANDLE heap = Runtime_Heap();
    size_t busy = 0;
    if (!HeapLock(heap)) {
        return 0;
    }
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heap, &entry)) {
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
            busy += entry.cbData;
        }
    }
    HeapUnlock(heap);
    return busy;
}

// Watches a reading of a child's output from another thread, so that no fault can make a test
// wait for ever. A child still there after `timeout_ms` is ended, which breaks its pipes. A pipe
// that stays open although the child has ended means that someone still holds a write end of
// it, most likely this process (an end the launch should have closed): the watchdog then cuts
// the reading off within seconds and names the fault.
class Watchdog {
  public:
    // `program` holds the object to watch; it is read on each round, since a policy switch
    // makes its object only once it runs.
    Watchdog(const volatile intptr_t* program, DWORD timeout_ms)
        : program_(program), stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          timeout_ms_(timeout_ms) {
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &reader_, 0,
                        FALSE, DUPLICATE_SAME_ACCESS);
        thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    ~Watchdog() {
        SetEvent(stop_);
        if (thread_) {
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
        }
        CloseHandle(reader_);
        CloseHandle(stop_);
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    // What went wrong, or null.
    const char* fault() const { return fault_; }

  private:
    static constexpr DWORD kRoundMs = 50;
    static constexpr ULONGLONG kStuckMs = 2000;

    // The child has ended, its pipe is empty, and the pipe still does not report its end.
    static bool PipeHeldOpen(const ProgramObject* object) {
        DWORD available = 0;
        return object->process && object->output_pipe &&
               WaitForSingleObject(object->process, 0) == WAIT_OBJECT_0 &&
               PeekNamedPipe(object->output_pipe, nullptr, 0, nullptr, &available, nullptr) &&
               available == 0;
    }

    static DWORD WINAPI Run(void* parameter) {
        auto* self = static_cast<Watchdog*>(parameter);
        const ULONGLONG deadline = GetTickCount64() + self->timeout_ms_;
        ULONGLONG held_since = 0;
        while (WaitForSingleObject(self->stop_, kRoundMs) == WAIT_TIMEOUT) {
            const ProgramObject* object = Program_Find(*self->program_);
            if (!object) {
                continue;
            }
            if (GetTickCount64() > deadline && object->process &&
                WaitForSingleObject(object->process, 0) == WAIT_TIMEOUT) {
                self->fault_ = "the child was still running at the time limit and was ended";
                TerminateProcess(object->process, 99);
            }
            if (!PipeHeldOpen(object)) {
                held_since = 0;
                continue;
            }
            held_since = held_since ? held_since : GetTickCount64();
            if (GetTickCount64() - held_since > kStuckMs) {
                self->fault_ = "the child has ended but its output never does: a write end of its "
                               "pipe is still open, most likely in this process";
                CancelSynchronousIo(self->reader_); // the blocked read gives up
            }
        }
        return 0;
    }

    const volatile intptr_t* program_;
    HANDLE stop_;
    DWORD timeout_ms_;
    HANDLE reader_ = nullptr;
    HANDLE thread_ = nullptr;
    std::atomic<const char*> fault_{nullptr};
};

// Reads every line the way the application does (poll, read when bytes wait) until the child
// has ended and its output is drained, under a watchdog; what the watchdog found ends the
// lines as "<fault>".
inline std::vector<std::wstring> ReadAllLines(intptr_t program, DWORD timeout_ms = 20000) {
    std::vector<std::wstring> lines;
    Watchdog watchdog(&program, timeout_ms);
    // Output that waits but that the reader never takes would keep the child running for ever.
    const ULONGLONG deadline = GetTickCount64() + timeout_ms + 2000;
    while (Program_IsRunning(program) && GetTickCount64() < deadline) {
        if (Program_AvailableOutput(program)) {
            RtStringOwner line(Program_ReadLine(program));
            lines.emplace_back(line.get());
        }
    }
    if (const char* fault = watchdog.fault()) {
        lines.emplace_back(L"<" + std::wstring(fault, fault + std::strlen(fault)) + L">");
    }
    return lines;
}

} // namespace process_test
