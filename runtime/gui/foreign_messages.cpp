// Messages from elsewhere. Any program on the desktop may post to our windows, and a program
// that sends to them from another process passes its parameters as they are for every message
// the system does not copy across. The runtime reads an address out of a message only when the
// system delivered it from a control of this thread, and it takes a window handle out of a
// message as a control only when that window is a child of the receiving one, made by this
// thread.
#include "runtime/gui/gui.h"

namespace {

HHOOK posted_guard = nullptr;

// Controls send their notifications and commands, they never post them: a posted one comes
// from elsewhere, and its lParam may name any address or any window.
bool IsForgedNotification(const MSG& message) {
    return message.message == WM_NOTIFY || (message.message == WM_COMMAND && message.lParam);
}

// Sees every message this thread retrieves, in Event_Wait and in every modal loop (message
// boxes, moving and sizing), and turns forged notifications into WM_NULL before anything
// dispatches them. (The system refuses to post the other messages whose lParam is an address.)
LRESULT CALLBACK NeutraliseForgedNotifications(int code, WPARAM removal, LPARAM lParam) {
    if (code == HC_ACTION) {
        auto* message = reinterpret_cast<MSG*>(lParam);
        if (IsForgedNotification(*message)) {
            *message = MSG{.hwnd = message->hwnd, .message = WM_NULL};
        }
    }
    return CallNextHookEx(nullptr, code, removal, lParam);
}

} // namespace

void Event_GuardPostedMessages() {
    if (!posted_guard) {
        posted_guard = SetWindowsHookExW(WH_GETMESSAGE, NeutraliseForgedNotifications, nullptr,
                                         GetCurrentThreadId());
    }
}

void Event_UnguardPostedMessages() {
    if (posted_guard) {
        UnhookWindowsHookEx(posted_guard);
        posted_guard = nullptr;
    }
}

bool Window_SentByThisThread() {
    return InSendMessageEx(nullptr) == ISMEX_NOSEND;
}

bool Window_IsChildControl(HWND window, HWND control) {
    // A window of another program can be made a child of ours; it is still not our control.
    return control && IsChild(window, control) &&
           GetWindowThreadProcessId(control, nullptr) == GetCurrentThreadId();
}
