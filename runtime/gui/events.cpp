// The event library's life: the post-event window, the queue, the binding table and the guard
// against posted forgeries come up together and go together.
#include "runtime/gui/internal/events.h"
#include "runtime/gui/internal/message_origin.h"

void Event_Init() {
    Event_MakePostWindow();
    // The queue is used by this thread alone (other threads come through the post-event
    // window), so it has no lock.
    Event_QueueInit();
    Event_BindingsInit();
    Event_GuardPostedMessages();
}

void Event_End() {
    Event_UnguardPostedMessages();
    Event_DestroyPostWindow();
}
