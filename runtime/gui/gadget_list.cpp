// The current gadget list: the window that receives new gadgets, and a snapshot of the list state
// of every window that has been a gadget list, kept in the library's own list and found by the
// window's handle (the window shows it as a property, which is never read).
#include "runtime/gui/internal/gadgets.h"
#include "runtime/gui/internal/message_origin.h"

#include <iterator>

namespace {

constexpr int32_t kInitialStackCapacity = 10;

GadgetListState* list_state = nullptr;
// The snapshot of every window that is or has been a gadget list, newest first.
void* snapshots = nullptr;
// The name under which a window shows its snapshot, made once.
wchar_t property_name[48];

// A fresh container stack of 10 empty entries for the state.
void GiveNewStack(GadgetListState* state) {
    state->stack = static_cast<HWND*>(Runtime_Alloc(sizeof(HWND) * kInitialStackCapacity));
    state->capacity = state->stack ? kInitialStackCapacity : 0;
}

void InitListState(void* block) {
    GiveNewStack(static_cast<GadgetListState*>(block));
}

void FreeListState(void* block) {
    auto* state = static_cast<GadgetListState*>(block);
    Runtime_Free(state->stack);
    state->stack = nullptr;
}

} // namespace

GadgetListSnapshot* GadgetList_SnapshotOf(HWND window) {
    // Kept in our own memory and found by the window's handle: the property that shows it can
    // be set by any program, and is never read as an address.
    for (void* item = window ? snapshots : nullptr; item; item = Objects_ListNext(item)) {
        auto* snapshot = static_cast<GadgetListSnapshot*>(item);
        if (snapshot->window == window) {
            return snapshot;
        }
    }
    return nullptr;
}

GadgetListState* GadgetList_State() {
    return list_state;
}

void GadgetList_Init(HFONT font) {
    String_Numbers(property_name, std::size(property_name), L"Tavi_GadgetStack_",
                   {reinterpret_cast<int64_t>(Runtime_Module())});
    list_state = static_cast<GadgetListState*>(
        Objects_NewState(sizeof(GadgetListState), InitListState, FreeListState));
    if (list_state) {
        list_state->font = font;
    }
}

const wchar_t* GadgetList_PropertyName() {
    return property_name;
}

HWND GadgetList_Owner() {
    if (!list_state) {
        return nullptr;
    }
    return list_state->depth > 0 && list_state->stack ? list_state->stack[0] : list_state->current;
}

HWND GadgetList_Use(HWND window) {
    GadgetListState* state = list_state;
    HWND previous = GadgetList_Owner();
    if (!window || !state) {
        return previous;
    }
    GadgetListSnapshot* snapshot = GadgetList_SnapshotOf(window);
    GadgetListSnapshot* fresh = nullptr;
    if (!snapshot) {
        // Made before anything changes, so that a failure leaves all as it was.
        fresh = static_cast<GadgetListSnapshot*>(
            Objects_ListAdd(&snapshots, sizeof(GadgetListSnapshot)));
        if (!fresh) {
            return previous;
        }
        fresh->window = window;
        SetPropW(window, property_name, fresh);
    }
    if (previous) {
        if (GadgetListSnapshot* saved = GadgetList_SnapshotOf(previous)) {
            saved->saved_current = state->current;
            saved->saved_stack = state->stack;
            saved->saved_depth = state->depth;
            saved->saved_capacity = state->capacity;
            state->stack = nullptr; // the array belongs to the snapshot now
        }
    }
    if (snapshot) {
        Runtime_Free(state->stack);
        state->current = snapshot->saved_current;
        state->stack = snapshot->saved_stack;
        state->depth = snapshot->saved_depth;
        state->capacity = snapshot->saved_capacity;
        snapshot->saved_stack = nullptr;
        return previous;
    }
    if (!state->stack) {
        GiveNewStack(state);
    }
    state->depth = 0;
    state->current = window;
    fresh->previous_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GadgetList_WindowProc)));
    return previous;
}

LRESULT CALLBACK GadgetList_WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (Window_LifeMessageFromElsewhere(window, message)) {
        return 0; // the snapshot and the subclass stay
    }
    GadgetListSnapshot* snapshot = GadgetList_SnapshotOf(window);
    if (!snapshot) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    const WNDPROC previous = snapshot->previous_proc;
    if (message == WM_NCDESTROY) {
        // A destroyed window receives no more gadgets; the state keeps its stack array.
        if (list_state && snapshot->window == GadgetList_Owner()) {
            list_state->current = nullptr;
            list_state->depth = 0;
        }
        Runtime_Free(snapshot->saved_stack);
        Objects_ListRemove(&snapshots, snapshot);
        RemovePropW(window, property_name);
    }
    return previous ? CallWindowProcW(previous, window, message, wParam, lParam)
                    : DefWindowProcW(window, message, wParam, lParam);
}
