// Push-button gadgets.
#include "runtime/gui/internal/gadgets.h"

#include <algorithm>

namespace {

// Every button starts a dialog group and is a tab stop.
constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP;
// Controls start detached; Gadget_Attach gives them their identity.
const HMENU kDetachedMenuId = reinterpret_cast<HMENU>(static_cast<INT_PTR>(-1));
constexpr int kMinimumHeight = 24;
constexpr int kTextPadding = 10;

GadgetKind button_kind{};
bool button_kind_ready = false;

void FillButtonKind() {
    button_kind = GadgetKind{};
    button_kind.kind_code = GADGET_KIND_BUTTON;
    button_kind.descriptor_size = sizeof(GadgetKind);
    button_kind.get_state = Button_GetState;
    button_kind.set_state = Button_SetState;
    button_kind.required_size = Button_RequiredSize;
}

} // namespace

const GadgetKind* Button_Kind() {
    return &button_kind;
}

int64_t Button_Create(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                      const wchar_t* text, uint32_t flags) {
    GadgetListState* state = GadgetList_State();
    if (!button_kind_ready) {
        FillButtonKind();
        button_kind_ready = true;
    }
    // Without a current gadget list the child has no parent and is not made.
    HWND control = CreateWindowExW(0, L"Button", text ? text : L"", flags | kButtonStyle, x, y,
                                   width, height, state ? state->current : nullptr, kDetachedMenuId,
                                   Runtime_Module(), nullptr);
    if (!control) {
        return 0; // a live gadget of that number is untouched
    }
    // Only now, with the new control in place, does a live gadget of that number go.
    auto* record = static_cast<GadgetRecord*>(Objects_Create(Gadget_Registry(), number));
    if (!record) {
        DestroyWindow(control);
        return 0;
    }
    return Gadget_Attach(number, record, control, &button_kind);
}

int64_t Button_GetState(GadgetRecord* record) {
    return SendMessageW(record->control, BM_GETCHECK, 0, 0) & 1;
}

LRESULT Button_SetState(GadgetRecord* record, int64_t value) {
    return SendMessageW(record->control, BM_SETCHECK, value ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Button_RequiredSize(GadgetRecord* record, int32_t* width, int32_t* height) {
    *width = 0;
    *height = 0;
    HWND control = record->control;
    const int length = GetWindowTextLengthW(control);
    auto* text = static_cast<wchar_t*>(Runtime_Alloc(sizeof(wchar_t) * (length + 1)));
    if (!text) {
        return;
    }
    GetWindowTextW(control, text, length + 1);
    SIZE extent{};
    HDC device = GetDC(control);
    // Measured in the control's own font; without one, in the device context's default.
    auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0));
    HGDIOBJ old_font = font ? SelectObject(device, font) : nullptr;
    GetTextExtentPoint32W(device, text, length, &extent);
    if (old_font) {
        SelectObject(device, old_font);
    }
    ReleaseDC(control, device);
    Runtime_Free(text);
    *width = extent.cx + 2 * GetSystemMetrics(SM_CXEDGE) + kTextPadding;
    *height = std::max<int32_t>(extent.cy + 2 * GetSystemMetrics(SM_CYEDGE), kMinimumHeight);
}
