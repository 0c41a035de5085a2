// Where a window message comes from: the guard against posted forgeries, the checks on who sent
// a message, the runtime's own making and ending of windows, and what counts as a control of a
// window. Every window procedure of the runtime asks here before it believes a message.
#pragma once

#include "runtime/gui/gui.h"

// Whether a message the thread retrieved (posted to a window or to the thread, not sent) can
// only be a forgery: a control notification or command, a window's life message, or a message
// whose number is a runtime event code.
bool Event_IsForgedPost(const MSG& message);
// Watches every message the thread retrieves, in Event_Wait and in modal loops alike, and turns
// forgeries into WM_NULL; installed by Event_Init. False when the system refused the hook:
// Event_Wait still drops the forgeries it retrieves itself, and no address is read out of a
// notification (which a modal loop could then dispatch) for as long as the guard is missing.
bool Event_GuardPostedMessages();
void Event_UnguardPostedMessages();
bool Event_PostsGuarded();

// Whether the message being handled was sent by this thread: not sent from another thread or
// process, and not posted, which can be told only while the guard turns posted forgeries away
// (without it the answer is no). While the thread handles a message sent from elsewhere, what it
// sends itself meanwhile counts as from elsewhere too.
bool Window_SentByThisThread();
// WM_NCCREATE, WM_CREATE, WM_DESTROY and WM_NCDESTROY: the system sends them, on the thread
// that creates or destroys the window.
bool Window_IsLifeMessage(UINT message);
// Whether `message` creates or destroys a window (WM_NCCREATE, WM_CREATE, WM_DESTROY,
// WM_NCDESTROY) and is a forgery, which every window procedure of the runtime refuses before it
// touches anything. It is genuine while the runtime itself makes a window or ends `window` (or
// a window it belongs to), whatever else the thread is doing; otherwise only when this thread
// sent it (Window_SentByThisThread).
bool Window_LifeMessageFromElsewhere(HWND window, UINT message);

// Marks the runtime's own making of a window (`ending` null) or ending of `ending` and its
// children on this thread, for as long as it lives. While a thread handles a message sent from
// elsewhere, what it sends itself meanwhile looks as if it came from elsewhere too: the mark
// lets the life messages of the runtime's own CreateWindowExW and DestroyWindow through anyway.
class WindowLifeScope {
  public:
    explicit WindowLifeScope(HWND ending = nullptr);
    ~WindowLifeScope();
    WindowLifeScope(const WindowLifeScope&) = delete;
    WindowLifeScope& operator=(const WindowLifeScope&) = delete;

  private:
    HWND ending_ = nullptr;
    bool counted_ = false;
};
// Whether `control` is a window of this thread inside `window` (a child or deeper descendant).
bool Window_IsChildControl(HWND window, HWND control);
