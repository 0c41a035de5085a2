// Helpers shared by the program runner's tests and its soak program: where the stand-in tool
// is, environment settings that undo themselves, and the two resource gauges (handles held by
// this process, bytes in use on the runtime heap).
#pragma once

#include "support/window_driver.h"

#include "app/app.h"
#include "runtime/process/process.h"

#include <windows.h>

#include <atomic>
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
    explicit ToolPath(const std::wstring& path) { Use(path.c_str()); }
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

// Ends a child that is still there after a time limit, which breaks its pipes, so that no read
// of its output can block for ever.
class Watchdog {
  public:
    Watchdog(HANDLE process, DWORD timeout_ms)
        : stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), timeout_ms_(timeout_ms) {
        if (process && DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(), &process_,
                                       0, FALSE, DUPLICATE_SAME_ACCESS)) {
            thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
        }
    }
    ~Watchdog() {
        SetEvent(stop_);
        if (thread_) {
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
        }
        if (process_) {
            CloseHandle(process_);
        }
        CloseHandle(stop_);
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    bool fired() const { return fired_; }

  private:
    static DWORD WINAPI Run(void* parameter) {
        auto* self = static_cast<Watchdog*>(parameter);
        if (WaitForSingleObject(self->stop_, self->timeout_ms_) == WAIT_TIMEOUT) {
            self->fired_ = true;
            TerminateProcess(self->process_, 99);
        }
        return 0;
    }

    HANDLE stop_;
    DWORD timeout_ms_;
    HANDLE process_ = nullptr;
    HANDLE thread_ = nullptr;
    std::atomic<bool> fired_{false};
};

// Reads every line the way the application does (poll, read when bytes wait) until the child
// has ended and its output is drained; a child still there after `timeout_ms` is ended, and a
// pipe that still does not drain a moment later ends the reading too.
inline std::vector<std::wstring> ReadAllLines(intptr_t program, DWORD timeout_ms = 20000) {
    std::vector<std::wstring> lines;
    const ProgramObject* object = Program_Find(program);
    Watchdog watchdog(object ? object->process : nullptr, timeout_ms);
    const ULONGLONG deadline = GetTickCount64() + timeout_ms + 2000;
    while (Program_IsRunning(program) && GetTickCount64() < deadline) {
        if (Program_AvailableOutput(program)) {
            RtStringOwner line(Program_ReadLine(program));
            lines.emplace_back(line.get());
        }
    }
    if (watchdog.fired()) {
        lines.emplace_back(L"<timed out>");
    }
    return lines;
}

} // namespace process_test
