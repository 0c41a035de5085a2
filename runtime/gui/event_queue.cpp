// The event queue: a first-in first-out list of runtime events with a recycling node pool, and
// the current event that Event_Gadget and Event_Type read.
#include "runtime/gui/internal/events.h"

// Nodes that leave the queue wait here for the next post; chunks are never given back.
struct EventNodePool {
    EventNode* free_nodes;
};

namespace {

constexpr int kNodesPerChunk = 32;
// Codes from here on are never merged with the event before them.
constexpr int32_t kFirstUnmergedCode = 65536;

EventQueue* event_queue = nullptr;

EventNode* TakeNode(EventNodePool* pool) {
    if (!pool) {
        return nullptr;
    }
    if (!pool->free_nodes) {
        auto* chunk = static_cast<EventNode*>(Runtime_Alloc(sizeof(EventNode) * kNodesPerChunk));
        if (!chunk) {
            return nullptr;
        }
        for (int index = 0; index < kNodesPerChunk; ++index) {
            chunk[index].next = pool->free_nodes;
            pool->free_nodes = &chunk[index];
        }
    }
    EventNode* node = pool->free_nodes;
    pool->free_nodes = node->next;
    *node = EventNode{};
    return node;
}

void GiveNode(EventNodePool* pool, EventNode* node) {
    node->next = pool->free_nodes;
    pool->free_nodes = node;
}

// Data handed to the queue with a release operation is the queue's to release, also when the
// event never reaches the caller.
void ReleaseData(intptr_t data, EventRelease release) {
    if (data && release) {
        release(data);
    }
}

bool SameEvent(const EventNode* node, int32_t code, int64_t object, int64_t window, int64_t type) {
    return node->code == code && node->object == object && node->window == window &&
           node->type == type;
}

bool Matches(int64_t wanted, int64_t value) {
    return wanted == -1 || wanted == value;
}

// Unlinks every node the predicate picks, keeping the order of the others.
template <typename Predicate> void DropNodes(Predicate picks) {
    EventQueue* queue = event_queue;
    if (!queue) {
        return;
    }
    EventNode* kept_tail = nullptr;
    for (EventNode** link = &queue->head; *link;) {
        EventNode* node = *link;
        if (picks(node)) {
            *link = node->next;
            --queue->length;
            ReleaseData(node->data, node->data_release);
            GiveNode(queue->pool, node);
        } else {
            kept_tail = node;
            link = &node->next;
        }
    }
    queue->tail = kept_tail;
}

// At the bound only a close still gets in: the user's close must never be lost, whatever flood
// came before it. It takes the place of the oldest queued event that is not a close (a tick, an
// erase, a move, or a click older than it). When every queued event is a close, one more for a
// window that has one waiting adds nothing and is dropped; one for another window joins beyond
// the bound, so the queue holds at most its bound plus one close per window.
bool MakeRoomForClose(EventQueue* queue, int32_t code, int64_t window) {
    if (code != EVENT_CLOSE_WINDOW) {
        return false;
    }
    EventNode* oldest = queue->head;
    while (oldest && oldest->code == EVENT_CLOSE_WINDOW) {
        oldest = oldest->next;
    }
    if (oldest) {
        DropNodes([oldest](const EventNode* node) { return node == oldest; });
        return true;
    }
    for (const EventNode* node = queue->head; node; node = node->next) {
        if (node->window == window) {
            return false;
        }
    }
    return true;
}

// The six fields of the current event, as one value.
struct CurrentEvent {
    int32_t code;
    int64_t window;
    int64_t object;
    int64_t type;
    intptr_t data;
    EventRelease release;
};

CurrentEvent CurrentOf(const EventQueue* queue) {
    return {queue->current_code, queue->current_window, queue->current_object,
            queue->current_type, queue->current_data,   queue->current_release};
}

void MakeCurrent(EventQueue* queue, const CurrentEvent& event) {
    queue->current_code = event.code;
    queue->current_window = event.window;
    queue->current_object = event.object;
    queue->current_type = event.type;
    queue->current_data = event.data;
    queue->current_release = event.release;
}

void InitQueue(void* block) {
    auto* queue = static_cast<EventQueue*>(block);
    queue->pool = static_cast<EventNodePool*>(Runtime_Alloc(sizeof(EventNodePool)));
}

} // namespace

EventQueue* Event_Queue() {
    return event_queue;
}

void Event_QueueInit() {
    event_queue =
        static_cast<EventQueue*>(Objects_NewState(sizeof(EventQueue), InitQueue, nullptr));
}

int64_t Event_Gadget() {
    return event_queue ? event_queue->current_object : 0;
}

int64_t Event_Type() {
    return event_queue ? event_queue->current_type : 0;
}

void Event_Post(int32_t code, int64_t object, int64_t window, int64_t type, intptr_t data,
                EventRelease data_release, uint32_t post_flags) {
    EventQueue* queue = event_queue;
    if (!queue || (queue->closed && !(post_flags & POST_ALWAYS))) {
        ReleaseData(data, data_release);
        return;
    }
    const bool defer = (post_flags & POST_DEFER_CALLBACKS) != 0;
    EventNode* tail = queue->tail;
    const bool merged =
        tail && code < kFirstUnmergedCode && !defer && SameEvent(tail, code, object, window, type);
    // A merged post keeps the queued event's data; its own is released once the callbacks
    // have seen it, unless it is the very data the queued event already holds.
    const bool release_merged_data =
        merged && !(data == tail->data && data_release == tail->data_release);
    if (!merged) {
        // At the bound a new event is dropped, as when the heap has no node for it; a close
        // makes room instead.
        const bool room =
            queue->length < EVENT_QUEUE_LIMIT || MakeRoomForClose(queue, code, window);
        EventNode* node = room ? TakeNode(queue->pool) : nullptr;
        if (!node) {
            ReleaseData(data, data_release);
            return;
        }
        tail = queue->tail; // making room may have taken the tail
        *node = EventNode{.code = code,
                          .post_flags = post_flags,
                          .object = object,
                          .window = window,
                          .type = type,
                          .data = data,
                          .data_release = data_release,
                          .serial = ++queue->queued};
        if (tail) {
            tail->next = node;
        } else {
            queue->head = node;
        }
        queue->tail = node;
        ++queue->length;
    }
    if (!defer) {
        // The callbacks see this event as the current one; the real current event comes back.
        const CurrentEvent saved = CurrentOf(queue);
        MakeCurrent(queue, {code, window, object, type, data, data_release});
        Event_RunEventBindings(code, window, object, type);
        MakeCurrent(queue, saved);
    }
    if (release_merged_data) {
        ReleaseData(data, data_release);
    }
}

int32_t Event_Dequeue() {
    EventQueue* queue = event_queue;
    if (!queue) {
        return 0;
    }
    queue->current_code = 0;
    if (queue->current_data && queue->current_release) {
        const intptr_t data = queue->current_data;
        const EventRelease release = queue->current_release;
        queue->current_data = 0;
        queue->current_release = nullptr;
        release(data);
    }
    queue->current_type = -1;
    EventNode* node = queue->head;
    if (!node) {
        return 0; // window and object keep the last runtime event's values
    }
    queue->head = node->next;
    --queue->length;
    if (!queue->head) {
        queue->tail = nullptr;
    }
    MakeCurrent(queue, {node->code, node->window, node->object, node->type, node->data,
                        node->data_release});
    const uint32_t post_flags = node->post_flags;
    GiveNode(queue->pool, node);
    if (post_flags & POST_DEFER_CALLBACKS) {
        Event_RunEventBindings(queue->current_code, queue->current_window, queue->current_object,
                               queue->current_type);
    }
    return queue->current_code;
}

void Event_Discard(int32_t code, int64_t object, int64_t window, int64_t type) {
    DropNodes([=](const EventNode* node) {
        return Matches(code, node->code) && Matches(object, node->object) &&
               Matches(window, node->window) && Matches(type, node->type);
    });
}

void Event_DiscardWindow(int64_t window) {
    DropNodes([=](const EventNode* node) { return node->window == window; });
}

uint64_t Event_Serial() {
    return event_queue ? event_queue->queued : 0;
}

void Event_DiscardGadgetsSince(uint64_t serial) {
    DropNodes(
        [=](const EventNode* node) { return node->code == EVENT_GADGET && node->serial > serial; });
}
