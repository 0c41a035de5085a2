// The gadget core shared by every kind: the registry, attaching a control, the gadget window
// procedure with its clean-up, release, and the gadget library's life.
#include "runtime/gui/internal/events.h"
#include "runtime/gui/internal/gadgets.h"
#include "runtime/gui/internal/message_origin.h"
#include "runtime/gui/internal/window_procedure.h"
#include "runtime/gui/internal/window_records.h"

#include <commctrl.h>

namespace {

constexpr int32_t kGadgetGrowthStep = 50;
// Identifier of a control that is not attached, or no longer.
constexpr LONG_PTR kDetachedId = -1;

ObjectRegistry* gadget_registry = nullptr;
HFONT default_font = nullptr;
CRITICAL_SECTION gadget_lock;

// The control is going: its pending events go too, then its record.
void CleanUpControl(HWND window, int64_t identity, GadgetRecord* record) {
    if (record->kind && record->kind->release_hook) {
        record->kind->release_hook(record);
    }
    RemovePropW(window, kGadgetIdProperty);
    // No gadget is ever made a drop target: nothing to revoke, whatever the property says.
    RemovePropW(window, kDropAcceptProperty);
    SetWindowLongPtrW(window, GWLP_ID, kDetachedId);
    Event_Discard(EVENT_GADGET, identity, -1, -1);
    Objects_Remove(gadget_registry, identity);
}

} // namespace

ObjectRegistry* Gadget_Registry() {
    return gadget_registry;
}

GadgetRecord* Gadget_RecordOf(HWND control, int64_t* identity) {
    return static_cast<GadgetRecord*>(Objects_FindHandle(gadget_registry, control, identity));
}

int64_t Gadget_Attach(int64_t number, GadgetRecord* record, HWND control, const GadgetKind* kind) {
    record->control = control;
    record->kind = kind;
    const int64_t identity = number == ANY_NUMBER ? reinterpret_cast<int64_t>(record) : number;
    record->previous_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Gadget_WindowProc)));
    // The whole identity, not just 16 bits: the parent reads it back for EVENT_GADGET.
    SetWindowLongPtrW(control, GWLP_ID, static_cast<LONG_PTR>(identity));
    SetPropW(control, kGadgetIdProperty, reinterpret_cast<HANDLE>(identity));
    const GadgetListState* state = GadgetList_State();
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(state ? state->font : nullptr),
                 TRUE);
    return number == ANY_NUMBER ? identity : reinterpret_cast<int64_t>(control);
}

LRESULT CALLBACK Gadget_WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // A gadget ends only through its release or its window's: neither a forged life message
    // nor a WM_CLOSE, which the control's default procedure would answer by destroying it.
    if (Window_LifeMessageFromElsewhere(window, message) || message == WM_CLOSE) {
        return 0;
    }
    // The record is found by the control's handle, and with it the procedure it replaced: the
    // control's identifier, which another program can change, decides nothing.
    int64_t identity = 0;
    GadgetRecord* record = Gadget_RecordOf(window, &identity);
    if (!record || !record->previous_proc) {
        return DefWindowProcW(window, message, wParam, lParam); // not attached, or no longer
    }
    const LRESULT result = CallWindowProcW(record->previous_proc, window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        CleanUpControl(window, identity, record);
    }
    return result;
}

// Commands, notifications, scroll and colour messages about a control reach its parent; the
// gadget that owns the control may take them.
LRESULT Gadget_ForwardMessage(HWND control, HWND window_handle, UINT message, WPARAM wParam,
                              LPARAM lParam) {
    if (!Window_IsChildControl(window_handle, control)) {
        return NOT_HANDLED; // not a control of this window
    }
    int64_t identity = 0;
    GadgetRecord* record = Gadget_RecordOf(control, &identity);
    if (!record || !record->kind || !record->kind->message_handler) {
        return NOT_HANDLED; // not a gadget of this runtime, or one without a handler
    }
    return record->kind->message_handler(record, window_handle, message, wParam, lParam);
}

void Gadget_Free(int64_t identity) {
    if (identity == ANY_NUMBER) {
        Objects_ReleaseAll(gadget_registry);
        return;
    }
    // The record is cleared by the control's WM_NCDESTROY, not here.
    if (auto* record = static_cast<GadgetRecord*>(Objects_Get(gadget_registry, identity))) {
        WindowLifeScope ending(record->control);
        DestroyWindow(record->control);
    }
}

void Gadget_Init() {
    InitializeCriticalSection(&gadget_lock);
    default_font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    gadget_registry = Objects_NewRegistry(sizeof(GadgetRecord), kGadgetGrowthStep, Gadget_Free);
    GadgetList_Init(default_font);
    Gadget_InitCommonControls();
}

void Gadget_InitCommonControls() {
    constexpr DWORD kControlClasses = ICC_TAB_CLASSES | ICC_HOTKEY_CLASS | ICC_DATE_CLASSES |
                                      ICC_USEREX_CLASSES | ICC_INTERNET_CLASSES;
    INITCOMMONCONTROLSEX classes{.dwSize = sizeof(INITCOMMONCONTROLSEX), .dwICC = kControlClasses};
    InitCommonControlsEx(&classes);
}

void Gadget_End() {
    GadgetListState* state = GadgetList_State();
    if (state && state->auxiliary) {
        WindowLifeScope ending(state->auxiliary);
        DestroyWindow(state->auxiliary);
        state->auxiliary = nullptr;
    }
}
