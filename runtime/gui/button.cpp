// Push-button gadgets.
#include "runtime/core/internal/owners.h"
#include "runtime/gui/internal/gadgets.h"

#include <algorithm>

namespace {

// Every button starts a dialog group and is a tab stop.
constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP;
// Controls start detached; Gadget_Attach gives them their identity.
const HMENU kDetachedMenuId = reinterpret_cast<HMENU>(static_cast<INT_PTR>(-1));
constexpr int kMinimumHeight = 24;
constexpr int kTextPadding = 10;

// A button has no message handler of its own: its commands reach the event queue.
constexpr GadgetKind kButtonKind{.kind_code = GADGET_KIND_BUTTON,
                                 .descriptor_size = sizeof(GadgetKind),
                                 .get_state = Button_GetState,
                                 .set_state = Button_SetState,
                                 .required_size = Button_RequiredSize};

// The device context of a control, for as long as the scope lives.
class ControlDC {
  public:
    explicit ControlDC(HWND control) : control_(control), device_(GetDC(control)) {}
    ~ControlDC() {
        if (device_) {
            ReleaseDC(control_, device_);
        }
    }
    ControlDC(const ControlDC&) = delete;
    ControlDC& operator=(const ControlDC&) = delete;
    HDC get() const { return device_; }

  private:
    HWND control_;
    HDC device_;
};

// A font selected into a device context, and the one before it put back at the end of the
// scope; without a font, the device context's default stays.
class SelectedFont {
  public:
    SelectedFont(HDC device, HGDIOBJ font)
        : device_(device), previous_(device && font ? SelectObject(device, font) : nullptr) {}
    ~SelectedFont() {
        if (previous_) {
            SelectObject(device_, previous_);
        }
    }
    SelectedFont(const SelectedFont&) = delete;
    SelectedFont& operator=(const SelectedFont&) = delete;

  private:
    HDC device_;
    HGDIOBJ previous_;
};

} // namespace

const GadgetKind* Button_Kind() {
    return &kButtonKind;
}

int64_t Button_Create(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                      const wchar_t* text, uint32_t flags) {
    GadgetListState* state = GadgetList_State();
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
    return Gadget_Attach(number, record, control, &kButtonKind);
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
    const auto text = RuntimeBlock<wchar_t>::Of(length + 1);
    if (!text.get()) {
        return;
    }
    GetWindowTextW(control, text.get(), length + 1);
    SIZE extent{};
    {
        // Measured in the control's own font; without one, in the device context's default.
        const ControlDC device(control);
        const SelectedFont font(device.get(),
                                reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
        GetTextExtentPoint32W(device.get(), text.get(), length, &extent);
    }
    *width = extent.cx + 2 * GetSystemMetrics(SM_CXEDGE) + kTextPadding;
    *height = std::max<int32_t>(extent.cy + 2 * GetSystemMetrics(SM_CYEDGE), kMinimumHeight);
}
