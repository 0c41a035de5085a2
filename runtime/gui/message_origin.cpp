// Where a window message comes from, in one place. Any program on the desktop may post to our
// windows and to our thread, and a program that sends to our windows from another process
// passes its parameters as they are for every message the system does not copy across:
// - a posted message that only this thread or the system could have made (a control's
//   notification or command, a window's life message, a message numbered like a runtime event)
//   is never dispatched: a hook turns it into WM_NULL as it is retrieved, in Event_Wait and in
//   every modal loop, and Event_Wait drops it too should the system refuse the hook;
// - a message that makes or ends a window's life counts only while the runtime itself makes or
//   ends that window, or else when this thread sent it while the guard keeps posted ones away;
// - a window handle is taken as a control only when that window is a child of the receiving
//   one, made by this thread.
#include "runtime/gui/internal/events.h"
#include "runtime/gui/internal/message_origin.h"

#include <algorithm>

namespace {

HHOOK posted_guard = nullptr;

// Sees every message this thread retrieves, in Event_Wait and in every modal loop (message
// boxes, moving and sizing), and turns forgeries into WM_NULL before anything dispatches them.
LRESULT CALLBACK NeutraliseForgedPosts(int code, WPARAM removal, LPARAM lParam) {
    if (code == HC_ACTION) {
        auto* message = reinterpret_cast<MSG*>(lParam);
        if (Event_IsForgedPost(*message)) {
            *message = MSG{.hwnd = message->hwnd, .message = WM_NULL};
        }
    }
    return CallNextHookEx(nullptr, code, removal, lParam);
}

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

bool Event_IsForgedPost(const MSG& message) {
    // Controls send their notifications and commands, they never post them: a posted one may
    // name any address or any window. The system sends the messages of a window's life, and the
    // numbers of the runtime's events are never messages of its own: a message with such a
    // number would pass for an event where Event_Wait hands out message numbers. (The system
    // refuses to post the other messages whose lParam is an address. A posted WM_TIMER whose
    // lParam is an address is the system's to judge: Windows checks timer callbacks in
    // DispatchMessage, Wine 8 calls them, and nothing here could tell a forged one from the
    // timers of the themed controls.)
    return message.message == WM_NOTIFY || (message.message == WM_COMMAND && message.lParam) ||
           Window_IsLifeMessage(message.message) ||
           (message.message >= EVENT_FIRST && message.message <= EVENT_LAST);
}

bool Event_GuardPostedMessages() {
    if (!posted_guard) {
        posted_guard =
            SetWindowsHookExW(WH_GETMESSAGE, NeutraliseForgedPosts, nullptr, GetCurrentThreadId());
    }
    return posted_guard != nullptr;
}

void Event_UnguardPostedMessages() {
    if (posted_guard) {
        UnhookWindowsHookEx(posted_guard);
        posted_guard = nullptr;
    }
}

bool Event_PostsGuarded() {
    return posted_guard != nullptr;
}

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
