// Whether a child is still running or still has output for us, and how much.
#include "runtime/process/internal/process.h"

namespace {

DWORD BytesWaiting(HANDLE pipe) {
    DWORD available = 0;
    // A failed peek leaves the count at 0.
    PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr);
    return available;
}

} // namespace

int Program_IsRunning(intptr_t program) {
    const ProgramObject* object = Program_Find(program);
    if (!object) {
        return 0;
    }
    // Without a process handle (the shell started nothing new) there is nothing to wait for:
    // such a child counts as ended rather than as running for ever.
    if (object->process && WaitForSingleObject(object->process, 0) != WAIT_OBJECT_0) {
        return 1;
    }
    // An ended child is still running for the reader while its last output waits, in the pipe
    // or carried in the object, so that a read loop does not stop before it has everything.
    return Program_AvailableOutput(program) != 0 ? 1 : 0;
}

int64_t Program_AvailableOutput(intptr_t program) {
    const ProgramObject* object = Program_Find(program);
    if (!object || !object->output_pipe) {
        return 0;
    }
    return object->carried_size + static_cast<int64_t>(BytesWaiting(object->output_pipe));
}
