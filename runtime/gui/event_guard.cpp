// The guard against posted forgeries. Any program on the desktop may post to our windows and to
// our thread; a posted message that only this thread or the system could have made (a control's
// notification or command, a window's life message, a message numbered like a runtime event) is
// never dispatched: a hook turns it into WM_NULL as it is retrieved, in Event_Wait and in every
// modal loop, and Event_Wait drops it too should the system refuse the hook.
#include "runtime/gui/internal/events.h"

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
