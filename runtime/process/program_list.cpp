// The runner's library state: the program list with its lock, and the registry of
// handle-holding records.
#include "runtime/process/internal/process.h"

namespace {

constexpr int32_t kHandleGrowthStep = 4;

struct RunnerState {
    ObjectRegistry* handle_objects;
};

RunnerState* runner_state = nullptr;
void* program_list = nullptr; // first program object, null when empty
CRITICAL_SECTION program_list_lock;

// Holds the program list lock for one list step.
class ListLock {
  public:
    ListLock() { EnterCriticalSection(&program_list_lock); }
    ~ListLock() { LeaveCriticalSection(&program_list_lock); }
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;
};

void ReleaseHandleObject(int64_t identity) {
    ObjectRegistry* registry = Program_HandleRegistry();
    if (identity == ANY_NUMBER) {
        Objects_ReleaseAll(registry);
        return;
    }
    if (auto* record = static_cast<HandleObject*>(Objects_Get(registry, identity))) {
        CloseHandle(record->handle);
        Objects_Remove(registry, identity);
    }
}

void CloseIfSet(HANDLE handle) {
    if (handle) {
        CloseHandle(handle);
    }
}

} // namespace

void Program_Init() {
    runner_state =
        static_cast<RunnerState*>(Objects_NewState(sizeof(RunnerState), nullptr, nullptr));
    if (runner_state) {
        runner_state->handle_objects =
            Objects_NewRegistry(sizeof(HandleObject), kHandleGrowthStep, ReleaseHandleObject);
    }
    program_list = nullptr;
    InitializeCriticalSection(&program_list_lock);
}

void Program_End() {
    // Program objects still in the list keep their handles until the process ends: a child
    // that is still running is neither waited for nor cut off.
}

ObjectRegistry* Program_HandleRegistry() {
    return runner_state ? runner_state->handle_objects : nullptr;
}

ProgramObject* Program_Find(intptr_t program) {
    // The value is only compared with the list's items, so 0, 1 or a released object are safe.
    ListLock lock;
    return static_cast<ProgramObject*>(
        Objects_ListContains(program_list, reinterpret_cast<const void*>(program)));
}

ProgramObject* Program_NewObject() {
    ListLock lock;
    return static_cast<ProgramObject*>(Objects_ListAdd(&program_list, sizeof(ProgramObject)));
}

void Program_DropObject(ProgramObject* object) {
    ListLock lock;
    if (Objects_ListContains(program_list, object)) {
        Objects_ListRemove(&program_list, object);
    }
}

intptr_t Program_IsValid(intptr_t program) {
    return Program_Find(program) ? program : 0;
}

void Program_Release(intptr_t program) {
    // A value that is not a live object (already released, or the launch results 0 and 1) is
    // never read through, so releasing twice is harmless.
    ProgramObject* object = Program_Find(program);
    if (!object) {
        return;
    }
    CloseIfSet(object->process);
    CloseIfSet(object->input_pipe);
    CloseIfSet(object->output_pipe);
    CloseIfSet(object->error_pipe);
    Program_DropObject(object);
}
