// The event library's wiring: the event queue and its nodes, posting and discarding events,
// the binding table, the post-event window through which other threads deliver events, and the
// accelerators of Event_Wait. Applications use runtime/gui/gui.h.
#pragma once

#include "runtime/core/internal/core.h"
#include "runtime/gui/gui.h"

// The runtime's event codes lie in this range; Event_Wait never hands out a message number
// from it.
constexpr int32_t EVENT_FIRST = EVENT_GADGET;
constexpr int32_t EVENT_LAST = EVENT_WINDOW_RESIZED;

// The most events the queue holds. Events come from messages that anyone may post, and while a
// modal loop (a message box) runs nothing takes them out: at the bound a new event is dropped,
// so that a flood costs a bounded amount of memory, except a close, which takes the place of the
// oldest event that is not one. The loop itself takes them out one per Event_Wait, far faster
// than a person clicks.
constexpr int32_t EVENT_QUEUE_LIMIT = 1024;

// Post flags.
constexpr uint32_t POST_ALWAYS = 1;          // queued even while the queue is closed
constexpr uint32_t POST_DEFER_CALLBACKS = 2; // bindings run at dequeue; never merged

// Releases the data an event carries.
using EventRelease = void (*)(intptr_t data);
// A bound callback.
using EventCallback = void (*)();

struct EventNode {
    EventNode* next; // the next newer event
    int32_t code;
    uint32_t post_flags;
    int64_t object;
    int64_t window;
    int64_t type;
    intptr_t data;
    EventRelease data_release;
    uint64_t serial; // the queue's count of queued events when this one joined
};

// Recycles event nodes; opaque outside the queue.
struct EventNodePool;

// The event queue's state block.
struct EventQueue {
    EventNodePool* pool;
    EventNode* head; // oldest
    EventNode* tail; // newest
    int32_t closed;  // while non-zero, only POST_ALWAYS posts are queued (never set here)
    int32_t current_code;
    int64_t current_window;
    int64_t current_object;
    int64_t current_type; // -1 when no queued event was taken
    intptr_t current_data;
    EventRelease current_release;
    int32_t length;  // queued events, at most EVENT_QUEUE_LIMIT
    uint64_t queued; // events queued so far, the serial of the newest
};

// What another thread sends to the post-event window to deliver an event.
struct PostedEvent {
    uint64_t unused_head;
    int32_t code;
    uint32_t unused_pad;
    int64_t object;
    int64_t window;
    int64_t type;
    intptr_t data;
};

void Event_Post(int32_t code, int64_t object, int64_t window, int64_t type, intptr_t data = 0,
                EventRelease data_release = nullptr, uint32_t post_flags = 0);
// Drops every queued event matching all four fields; -1 matches any value.
void Event_Discard(int32_t code, int64_t object, int64_t window, int64_t type);
void Event_DiscardWindow(int64_t window);
// The serial of the newest event queued so far; with Event_DiscardGadgetsSince, what was
// queued after a moment can be told from what was queued before it.
uint64_t Event_Serial();
// Drops every queued EVENT_GADGET that joined the queue after `serial`.
void Event_DiscardGadgetsSince(uint64_t serial);
// Makes the oldest queued event the current one and returns its code, or 0 when none.
int32_t Event_Dequeue();
EventQueue* Event_Queue();
void Event_QueueInit();

// Runs the callbacks bound to one binding key.
void Event_RunBindings(int32_t code, int64_t window, int64_t object, int64_t type);
// Runs the five binding keys of one event in their order.
void Event_RunEventBindings(int32_t code, int64_t window, int64_t object, int64_t type);
// Drops every binding of `window`.
void Event_UnbindWindow(int64_t window);
// Internal: binds a callback to one key ("%d:%I64d:%I64d:%I64d", -1 for any value). Nothing in
// the program binds; the tests use it to prove the lookups and the clean-up.
bool Event_Bind(int32_t code, int64_t window, int64_t object, int64_t type, EventCallback callback);
void Event_BindingsInit();

// The accelerator table to translate with for the active window, or null.
HACCEL Event_PickAccelerators(HWND active);
// Shows (`show` non-zero) or hides a window's focus rectangles and accelerator underlines.
void Event_KeyboardCues(HWND handle, int show);

// The post-event window: other threads deliver events through it.
LRESULT CALLBACK Event_PostWindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam);
// Delivers an event from any thread; it reaches the queue when the event-loop thread
// dispatches the message. Returns false when it could not be sent.
bool Event_PostFromThread(int32_t code, int64_t object, int64_t window, int64_t type,
                          intptr_t data = 0);
HWND Event_PostWindow();
UINT Event_PostMessageId();
// Registers the post-event window's class and message and makes the window; and the undoing.
void Event_MakePostWindow();
void Event_DestroyPostWindow();
