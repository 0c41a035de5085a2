// Where a window message comes from. A program that sends to our windows from another process
// passes its parameters as they are for every message the system does not copy across, and any
// program may post: a message that makes or ends a window's life counts only when this thread
// sent it, and a window handle is taken as a control only when that window is a child of the
// receiving one, made by this thread.
#include "runtime/gui/internal/windows.h"

bool Window_IsLifeMessage(UINT message) {
    return message == WM_NCCREATE || message == WM_CREATE || message == WM_DESTROY ||
           message == WM_NCDESTROY;
}

bool Window_SentByThisThread() {
    return InSendMessageEx(nullptr) == ISMEX_NOSEND;
}

bool Window_LifeMessageFromElsewhere(UINT message) {
    // Only the thread that owns a window can create or destroy it, so a life message sent from
    // another thread or process is a forgery; posted ones never reach a window (see above).
    return Window_IsLifeMessage(message) && !Window_SentByThisThread();
}

bool Window_IsChildControl(HWND window, HWND control) {
    // A window of another program can be made a child of ours; it is still not our control.
    return control && IsChild(window, control) &&
           GetWindowThreadProcessId(control, nullptr) == GetCurrentThreadId();
}
