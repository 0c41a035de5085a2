// Where a window message comes from. A program that sends to our windows from another process
// passes its parameters as they are for every message the system does not copy across, and any
// program may post: a message that makes or ends a window's life counts only while the runtime
// itself makes or ends that window, or else when this thread sent it while the guard keeps
// posted ones away; a window handle is taken as a control only when that window is a child of
// the receiving one, made by this thread.
#include "runtime/gui/internal/events.h"

#include <algorithm>

namespace {

// The windows that the runtime is making or ending on its thread, innermost last. Endings nest
// only a few deep (a window's gadgets end within the window's own ending).
constexpr int kLifeScopeDepth = 8;

struct LifeScopes {
    DWORD thread;
    int making;
    HWND ending[kLifeScopeDepth];
    int ending_count;
};

LifeScopes scopes{};

bool InMakingOrEnding(HWND window, UINT message) {
    if (scopes.thread != GetCurrentThreadId()) {
        return false;
    }
    if (message == WM_NCCREATE || message == WM_CREATE) {
        return scopes.making > 0;
    }
    const HWND* first = scopes.ending;
    return std::any_of(first, first + scopes.ending_count,
                       [window](HWND root) { return window == root || IsChild(root, window); });
}

} // namespace

WindowLifeScope::WindowLifeScope(HWND ending) {
    if (!scopes.making && !scopes.ending_count) {
        scopes.thread = GetCurrentThreadId();
    }
    if (scopes.thread != GetCurrentThreadId()) {
        return; // another thread's: the messages then count by the plain rule
    }
    if (!ending) {
        ++scopes.making;
        counted_ = true;
    } else if (scopes.ending_count < kLifeScopeDepth) {
        scopes.ending[scopes.ending_count++] = ending;
        counted_ = true;
    }
    ending_ = ending;
}

WindowLifeScope::~WindowLifeScope() {
    if (!counted_) {
        return;
    }
    if (!ending_) {
        --scopes.making;
    } else {
        --scopes.ending_count;
    }
}

bool Window_IsLifeMessage(UINT message) {
    return message == WM_NCCREATE || message == WM_CREATE || message == WM_DESTROY ||
           message == WM_NCDESTROY;
}

bool Window_SentByThisThread() {
    // Not sent from another thread or process; and not posted, which only the guard can tell,
    // since a loop dispatches a posted message as a call from this thread.
    return Event_PostsGuarded() && InSendMessageEx(nullptr) == ISMEX_NOSEND;
}

bool Window_LifeMessageFromElsewhere(HWND window, UINT message) {
    if (!Window_IsLifeMessage(message) || InMakingOrEnding(window, message)) {
        return false;
    }
    // Only the thread that owns a window can create or destroy it, so a life message sent from
    // another thread or process, or posted, is a forgery.
    return !Window_SentByThisThread();
}

bool Window_IsChildControl(HWND window, HWND control) {
    // A window of another program can be made a child of ours; it is still not our control.
    return control && IsChild(window, control) &&
           GetWindowThreadProcessId(control, nullptr) == GetCurrentThreadId();
}
