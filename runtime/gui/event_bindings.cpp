// The binding table: callbacks bound to event keys, run when a matching event is posted (or,
// for deferred posts, dequeued).
#include "runtime/gui/internal/events.h"

namespace {

constexpr size_t kBindingBuckets = 1024;
constexpr size_t kKeyLength = 96;

struct BindingEntry {
    BindingEntry* next;
    EventCallback callback;
    uint8_t active; // 0 marks an entry to be removed
};

struct BindingValue {
    BindingEntry* first;
    int64_t window; // the window the binding belongs to
};

// The values whose callbacks are running, innermost first. A value in this chain is never
// freed under the walk that is running it: unbinding only marks its entries inactive, and the
// outermost walk frees them afterwards.
struct RunningValue {
    BindingValue* value;
    RunningValue* outer;
};

StringMap* binding_table = nullptr;
RunningValue* running_values = nullptr;

void FormatKey(int32_t code, int64_t window, int64_t object, int64_t type,
               wchar_t (&key)[kKeyLength]) {
    String_Numbers(key, kKeyLength, L"", {code, window, object, type});
}

bool IsRunning(const BindingValue* value) {
    for (const RunningValue* frame = running_values; frame; frame = frame->outer) {
        if (frame->value == value) {
            return true;
        }
    }
    return false;
}

bool HasInactiveEntry(const BindingValue* value) {
    for (const BindingEntry* entry = value->first; entry; entry = entry->next) {
        if (!entry->active) {
            return true;
        }
    }
    return false;
}

void FreeInactiveEntries(BindingValue* value) {
    for (BindingEntry** link = &value->first; *link;) {
        BindingEntry* entry = *link;
        if (entry->active) {
            link = &entry->next;
        } else {
            *link = entry->next;
            Runtime_Free(entry);
        }
    }
}

void FreeValue(BindingValue* value) {
    while (BindingEntry* entry = value->first) {
        value->first = entry->next;
        Runtime_Free(entry);
    }
    Runtime_Free(value);
}

bool UnbindIfWindow(void* stored, void* context) {
    auto* value = static_cast<BindingValue*>(stored);
    if (value->window != *static_cast<const int64_t*>(context)) {
        return false;
    }
    if (IsRunning(value)) {
        for (BindingEntry* entry = value->first; entry; entry = entry->next) {
            entry->active = 0;
        }
        return false;
    }
    FreeValue(value);
    return true;
}

} // namespace

void Event_BindingsInit() {
    binding_table = Map_New(kBindingBuckets);
}

bool Event_Bind(int32_t code, int64_t window, int64_t object, int64_t type,
                EventCallback callback) {
    wchar_t key[kKeyLength];
    FormatKey(code, window, object, type, key);
    void** slot = Map_Insert(binding_table, key);
    if (!slot || !callback) {
        return false;
    }
    if (!*slot) {
        auto* value = static_cast<BindingValue*>(Runtime_Alloc(sizeof(BindingValue)));
        if (!value) {
            Map_Delete(binding_table, key);
            return false;
        }
        value->window = window;
        *slot = value;
    }
    auto* entry = static_cast<BindingEntry*>(Runtime_Alloc(sizeof(BindingEntry)));
    if (!entry) {
        return false;
    }
    entry->callback = callback;
    entry->active = 1;
    auto* value = static_cast<BindingValue*>(*slot);
    BindingEntry** link = &value->first;
    while (*link) {
        link = &(*link)->next;
    }
    *link = entry;
    return true;
}

void Event_RunBindings(int32_t code, int64_t window, int64_t object, int64_t type) {
    wchar_t key[kKeyLength];
    FormatKey(code, window, object, type, key);
    void** slot = Map_Find(binding_table, key);
    if (!slot || !*slot) {
        return;
    }
    auto* value = static_cast<BindingValue*>(*slot);
    RunningValue frame{value, running_values};
    running_values = &frame;
    for (BindingEntry* entry = value->first; entry; entry = entry->next) {
        if (entry->active) {
            entry->callback();
        }
    }
    running_values = frame.outer;
    if (IsRunning(value) || !HasInactiveEntry(value)) {
        return;
    }
    FreeInactiveEntries(value);
    if (!value->first) {
        Map_Delete(binding_table, key);
        Runtime_Free(value);
    }
}

void Event_RunEventBindings(int32_t code, int64_t window, int64_t object, int64_t type) {
    Event_RunBindings(code, window, object, type);
    Event_RunBindings(code, window, object, -1);
    Event_RunBindings(code, window, -1, -1);
    Event_RunBindings(code, -1, -1, -1);
    Event_RunBindings(code, -1, object, type);
}

void Event_UnbindWindow(int64_t window) {
    Map_Sweep(binding_table, UnbindIfWindow, &window);
}
