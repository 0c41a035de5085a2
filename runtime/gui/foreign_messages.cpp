// Messages from elsewhere. Any program on the desktop may post to our windows and to our thread,
// and a program that sends to our windows from another process passes its parameters as they
// are for every message the system does not copy across. Three rules keep such messages from
// passing for the runtime's own: a posted message that only this thread or the system could
// have made is never dispatched; a message that makes or ends a window's life counts only when
// this thread sent it; an address is read out of a message only when one of our own controls
// can have sent it, and a window handle is taken as a control only when that window is a child
// of the receiving one, made by this thread.
#include "runtime/gui/gui.h"

namespace {

HHOOK posted_guard = nullptr;

bool IsLifeMessage(UINT message) {
    return message == WM_NCCREATE || message == WM_CREATE || message == WM_DESTROY ||
           message == WM_NCDESTROY;
}

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
           IsLifeMessage(message.message) ||
           (message.message >= EVENT_FIRST && message.message <= EVENT_LAST);
}

bool Event_GuardPostedMessages() {
    if (!posted_guard) {
        posted_guard = SetWindowsHookExW(WH_GETMESSAGE, NeutraliseForgedPosts, nullptr,
                                         GetCurrentThreadId());
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

bool Window_SentByThisThread() {
    return InSendMessageEx(nullptr) == ISMEX_NOSEND;
}

bool Window_LifeMessageFromElsewhere(UINT message) {
    // Only the thread that owns a window can create or destroy it, so a life message sent from
    // another thread or process is a forgery; posted ones never reach a window (see above).
    return IsLifeMessage(message) && !Window_SentByThisThread();
}

bool Window_IsChildControl(HWND window, HWND control) {
    // A window of another program can be made a child of ours; it is still not our control.
    return control && IsChild(window, control) &&
           GetWindowThreadProcessId(control, nullptr) == GetCurrentThreadId();
}
