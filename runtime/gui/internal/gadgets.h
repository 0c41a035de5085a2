// The gadget library's wiring: kind descriptors and gadget records, the gadget list and its
// snapshots, attaching a control, the gadget window procedures, and the button kind's
// operations. Applications use runtime/gui/gui.h.
#pragma once

#include "runtime/core/internal/core.h"
#include "runtime/gui/gui.h"

#include <cstddef>

constexpr int32_t GADGET_KIND_BUTTON = 1;
// Operation slots of other kinds, between set state and required size and after it.
constexpr int kKindSlotsBeforeSize = 8;
constexpr int kKindSlotsAfterSize = 8;

struct GadgetRecord;
using GadgetMessageHandler = LRESULT (*)(GadgetRecord* record, HWND parent, UINT message,
                                         WPARAM wParam, LPARAM lParam);
using GadgetReleaseHook = void (*)(GadgetRecord* record);
using GadgetGetState = int64_t (*)(GadgetRecord* record);
using GadgetSetState = LRESULT (*)(GadgetRecord* record, int64_t value);
using GadgetRequiredSize = void (*)(GadgetRecord* record, int32_t* width, int32_t* height);
using GadgetOperation = void (*)();

// What a kind of gadget can do; one static record per kind.
struct GadgetKind {
    int32_t kind_code;
    int32_t descriptor_size;
    GadgetMessageHandler message_handler;
    GadgetReleaseHook release_hook;
    GadgetGetState get_state;
    GadgetSetState set_state;
    GadgetOperation other_kinds_before[kKindSlotsBeforeSize];
    GadgetRequiredSize required_size;
    GadgetOperation other_kinds_after[kKindSlotsAfterSize];
};

// One gadget, owned by the gadget registry.
struct GadgetRecord {
    HWND control; // live while not null
    const GadgetKind* kind;
    WNDPROC previous_proc;
    intptr_t kind_data[4]; // per-gadget data of other kinds (a button uses none: never set here)
};
// The registry finds a gadget's record by its control, which it reads as the first field.
static_assert(offsetof(GadgetRecord, control) == 0 &&
              sizeof(GadgetRecord::control) == sizeof(void*));

// The gadget library's state block.
struct GadgetListState {
    HWND current; // receives new gadgets as children
    HFONT font;   // sent to every new gadget
    HWND* stack;  // container stack, from the runtime heap
    int32_t depth;  // containers on the stack (no gadget kind here is one: always 0)
    int32_t capacity;
    HWND auxiliary; // a helper window of other gadget kinds, which Gadget_End destroys (never
                    // set here)
};

// Saved gadget list state of one window, kept in the gadget library's list of snapshots and
// found by the window's handle. It is also hung on the window as a property, for whoever
// looks; the runtime never reads that property.
struct GadgetListSnapshot {
    HWND window;
    HWND saved_current;
    HWND* saved_stack; // owned while held
    int32_t saved_depth;
    int32_t saved_capacity;
    WNDPROC previous_proc;
};

constexpr wchar_t kGadgetIdProperty[] = L"Tavi_ID";

int64_t Button_GetState(GadgetRecord* record);
LRESULT Button_SetState(GadgetRecord* record, int64_t value);
void Button_RequiredSize(GadgetRecord* record, int32_t* width, int32_t* height);
const GadgetKind* Button_Kind();

// Makes `window` the current gadget list; returns the previous owning window.
HWND GadgetList_Use(HWND window);
// The snapshot of a window that has been a gadget list, or null.
GadgetListSnapshot* GadgetList_SnapshotOf(HWND window);
// The window that owns the current gadget list, or null.
HWND GadgetList_Owner();
GadgetListState* GadgetList_State();
// Makes the gadget library's state block, whose gadgets get `font`.
void GadgetList_Init(HFONT font);
// "Tavi_GadgetStack_<module handle>", made once by GadgetList_Init.
const wchar_t* GadgetList_PropertyName();
LRESULT CALLBACK GadgetList_WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

int64_t Gadget_Attach(int64_t number, GadgetRecord* record, HWND control, const GadgetKind* kind);
LRESULT CALLBACK Gadget_WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The gadget registry's release operation; ANY_NUMBER releases every gadget.
void Gadget_Free(int64_t identity);
ObjectRegistry* Gadget_Registry();
// The live gadget whose control is `control`, or null; its identity goes to `identity` when one
// is found. This alone says whether a control is a gadget and which one: its identifier and its
// "Tavi_ID" property can be overwritten by any program.
GadgetRecord* Gadget_RecordOf(HWND control, int64_t* identity);
// Offers a message about `control` to the message handler of the gadget that owns it.
LRESULT Gadget_ForwardMessage(HWND control, HWND window_handle, UINT message, WPARAM wParam,
                              LPARAM lParam);
