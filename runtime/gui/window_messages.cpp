// The window class procedure of every runtime window: window messages become runtime events,
// control messages are offered to the gadget that owns the control first.
#include "runtime/gui/internal/events.h"
#include "runtime/gui/internal/gadgets.h"
#include "runtime/gui/internal/message_origin.h"
#include "runtime/gui/internal/window_procedure.h"
#include "runtime/gui/internal/window_records.h"

namespace {

// The runtime window that a message's target belongs to.
struct Owner {
    HWND window;          // the runtime window, or null
    int64_t number;       // its number, -1 without one
    WindowRecord* record; // its live record, or null
};

// The first window on the way from `handle` up through its parents that the window registry
// knows by its handle. Its "Tavi_WindowID" property, which any program can change or remove,
// takes no part.
Owner FindOwner(HWND handle) {
    for (HWND window = handle; window; window = GetParent(window)) {
        int64_t number = -1;
        if (WindowRecord* record = Window_RecordOf(window, &number)) {
            return {window, number, record};
        }
    }
    return {nullptr, -1, nullptr};
}

bool IsOwnWindow(const Owner& owner, HWND handle) {
    return owner.record && owner.record->handle == handle;
}

void Post(int32_t code, const Owner& owner, int64_t object = 0, int64_t type = 0) {
    Event_Post(code, object, owner.number, type);
}

LRESULT OnMove(const Owner& owner, HWND handle) {
    if (IsOwnWindow(owner, handle) && owner.record->ready == 1) {
        Post(EVENT_WINDOW_MOVED, owner, owner.number);
    }
    return 0;
}

// Pending resize events of the window go before a new one, so that a drag on the sizing border
// leaves at most one behind.
void PostResized(const Owner& owner) {
    Event_Discard(EVENT_WINDOW_RESIZED, 0, owner.number, 0);
    Post(EVENT_WINDOW_RESIZED, owner);
}

LRESULT OnSize(const Owner& owner, HWND handle, WPARAM kind) {
    if (owner.window != handle) {
        return 1;
    }
    WindowRecord* record = owner.record;
    if (!record || record->ready == 0) {
        return NOT_HANDLED;
    }
    switch (kind) {
    case SIZE_MINIMIZED:
        record->minmax_state = 1;
        Post(EVENT_WINDOW_MINIMIZED, owner);
        break;
    case SIZE_MAXIMIZED:
        record->minmax_state = 1;
        Post(EVENT_WINDOW_MAXIMIZED, owner);
        Post(EVENT_WINDOW_RESIZED, owner);
        break;
    case SIZE_RESTORED:
        if (record->minmax_state == 1) {
            record->minmax_state = 0;
            Post(EVENT_WINDOW_RESTORED, owner);
        }
        PostResized(owner);
        break;
    default:
        PostResized(owner);
        break;
    }
    return 0;
}

// Only a control of the window itself is remembered and given the focus back: a deactivation
// that another program makes up while the focus is elsewhere (on a message box's button, say)
// must not leave a window of another owner, or a vanished one, to be focused later. The control
// is kept in the window's record; the "Tavi_Focus" property only shows it, since another
// program could set it to the other button, which a key press would then work.
LRESULT OnActivate(const Owner& owner, HWND handle, WPARAM wParam) {
    WindowRecord* record = IsOwnWindow(owner, handle) ? owner.record : nullptr;
    if (LOWORD(wParam) != WA_INACTIVE) {
        // The control that had the focus when the window was left gets it back.
        if (record && Window_IsChildControl(handle, record->saved_focus)) {
            SetFocus(record->saved_focus);
        }
        Post(EVENT_WINDOW_ACTIVATED, owner);
    } else {
        if (HWND focus = GetFocus(); record && Window_IsChildControl(handle, focus)) {
            record->saved_focus = focus;
            SetPropW(handle, kFocusProperty, focus);
        }
        Event_KeyboardCues(handle, 0);
        Post(EVENT_WINDOW_DEACTIVATED, owner);
    }
    return 1;
}

LRESULT OnClose(const Owner& owner, HWND handle) {
    // Never passed on: the application decides what closing means.
    if (IsOwnWindow(owner, handle)) {
        Post(EVENT_CLOSE_WINDOW, owner, owner.number);
    }
    return 0;
}

LRESULT OnEraseBackground(const Owner& owner, HWND handle, WPARAM device_context) {
    WindowRecord* record = owner.record;
    if (record && record->background) {
        RECT client{};
        GetClientRect(handle, &client);
        FillRect(reinterpret_cast<HDC>(device_context), &client, record->background);
        Post(EVENT_ERASE_BACKGROUND, owner);
        return 1;
    }
    if (IsOwnWindow(owner, handle) && record->erase_callback) {
        const LRESULT result = record->erase_callback(device_context, handle);
        Post(EVENT_ERASE_BACKGROUND, owner);
        return result;
    }
    Post(EVENT_ERASE_BACKGROUND, owner);
    return NOT_HANDLED;
}

BOOL CALLBACK SendSysColorChange(HWND child, LPARAM) {
    SendMessageW(child, WM_SYSCOLORCHANGE, 0, 0);
    return TRUE;
}

LRESULT OnSysColorChange(const Owner& owner, HWND handle) {
    if (owner.record && !owner.record->mdi_client) {
        EnumChildWindows(handle, SendSysColorChange, 0);
    }
    return NOT_HANDLED;
}

LRESULT OnGetMinMaxInfo(const Owner& owner, HWND handle, LPARAM lParam) {
    const WindowRecord* record = owner.record;
    auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
    if (!record || !info) {
        return NOT_HANDLED;
    }
    if (record->min_width) {
        info->ptMinTrackSize.x = record->min_width;
    }
    if (record->min_height) {
        info->ptMinTrackSize.y = record->min_height;
    }
    if (record->max_width) {
        info->ptMaxTrackSize.x = record->max_width;
    }
    if (record->max_height) {
        info->ptMaxTrackSize.y = record->max_height;
    }
    if (!record->min_width && (GetWindowLongPtrW(handle, GWL_EXSTYLE) & WS_EX_TOOLWINDOW)) {
        info->ptMinTrackSize.x = 1;
    }
    return 0;
}

// The header is read only when one of our own controls can have sent it: the system does not
// copy a notification from another process, so its lParam would be that process's address.
LRESULT OnNotify(HWND handle, WPARAM wParam, LPARAM lParam) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (!header || !Window_SentByThisThread()) {
        return 0; // ignored
    }
    return Gadget_ForwardMessage(header->hwndFrom, handle, WM_NOTIFY, wParam, lParam);
}

LRESULT OnCommand(const Owner& owner, HWND handle, WPARAM wParam, LPARAM lParam) {
    auto control = reinterpret_cast<HWND>(lParam);
    // A command that names something other than a control of this window comes from elsewhere:
    // it must not pass for a click on a gadget.
    if (control && !Window_IsChildControl(handle, control)) {
        return 0;
    }
    if (Gadget_ForwardMessage(control, handle, WM_COMMAND, wParam, lParam) != NOT_HANDLED) {
        return 0; // the gadget took the command
    }
    if (control) {
        // Only a gadget posts a gadget event, and the gadget registry says which gadget the
        // control is: its identifier and "Tavi_ID", which another program can overwrite, and
        // wParam, which holds only the identifier's low 16 bits, take no part. The runtime makes
        // no other control; a window of this thread that someone else made a child of ours
        // (COM's, say) is no choice of the user's and posts nothing.
        int64_t gadget = 0;
        if (Gadget_RecordOf(control, &gadget)) {
            Post(EVENT_GADGET, owner, gadget, HIWORD(wParam));
        }
    } else if (HIWORD(wParam) == 0) {
        Post(EVENT_COMMAND, owner, static_cast<int64_t>(wParam)); // a menu
    } else if (LOWORD(wParam) == ID_FOCUS_NEXT) {
        Focus_Step(0);
    } else if (LOWORD(wParam) == ID_FOCUS_PREVIOUS) {
        Focus_Step(1);
    } else {
        Post(EVENT_COMMAND, owner, LOWORD(wParam)); // another accelerator
    }
    return 0;
}

LRESULT OnTimer(const Owner& owner, WPARAM timer) {
    if (!owner.record) {
        return NOT_HANDLED;
    }
    Post(EVENT_TIMER_TICK, owner, static_cast<int64_t>(timer));
    return 0;
}

LRESULT OnTrayNotify(const Owner& owner, HWND handle, WPARAM wParam, LPARAM mouse_message) {
    int64_t type = -1;
    switch (mouse_message) {
    case WM_LBUTTONDOWN:
        type = 0;
        break;
    case WM_RBUTTONDOWN:
        type = 1;
        break;
    case WM_LBUTTONDBLCLK:
        type = 2;
        break;
    case WM_RBUTTONDBLCLK:
        type = 3;
        break;
    }
    if (type >= 0) {
        Post(EVENT_TRAY_NOTIFY, owner, static_cast<int64_t>(wParam), type);
    }
    // Wakes the loop up, so that a tray menu closes properly.
    PostMessageW(handle, WM_NULL, 0, 0);
    return 0;
}

WindowCallback UserCallback(const WindowRecord* record) {
    if (record && record->callback) {
        return record->callback;
    }
    const WindowState* state = Window_State();
    return state ? state->global_callback : nullptr;
}

} // namespace

LRESULT Window_HandleMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    if (Window_LifeMessageFromElsewhere(handle, message)) {
        return 0; // refused before anything is touched
    }
    const Owner owner = FindOwner(handle);
    if (WindowCallback callback = UserCallback(owner.record)) {
        const LRESULT result = callback(handle, message, wParam, lParam);
        if (result != USER_DEFAULT) {
            return result;
        }
    }
    switch (message) {
    case WM_MOVE:
        return OnMove(owner, handle);
    case WM_SIZE:
        return OnSize(owner, handle, wParam);
    case WM_ACTIVATE:
        return OnActivate(owner, handle, wParam);
    case WM_CLOSE:
        return OnClose(owner, handle);
    case WM_ERASEBKGND:
        return OnEraseBackground(owner, handle, wParam);
    case WM_SYSCOLORCHANGE:
        return OnSysColorChange(owner, handle);
    case WM_GETMINMAXINFO:
        return OnGetMinMaxInfo(owner, handle, lParam);
    case WM_NOTIFY:
        return OnNotify(handle, wParam, lParam);
    case WM_NCDESTROY:
        RemovePropW(handle, kFocusProperty);
        return 1;
    case WM_COMMAND:
        return OnCommand(owner, handle, wParam, lParam);
    case WM_TIMER:
        return OnTimer(owner, wParam);
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
    case kGadgetMessage:
        return Gadget_ForwardMessage(reinterpret_cast<HWND>(lParam), handle, message, wParam,
                                     lParam);
    case WM_LBUTTONUP:
        Post(EVENT_LEFT_BUTTON_UP, owner);
        return 0;
    case WM_LBUTTONDBLCLK:
        Post(EVENT_LEFT_DOUBLE_CLICK, owner);
        return 0;
    case WM_RBUTTONUP:
        Post(EVENT_RIGHT_BUTTON_UP, owner);
        return 0;
    case kTrayCallbackMessage:
        return OnTrayNotify(owner, handle, wParam, lParam);
    default:
        return NOT_HANDLED;
    }
}

LRESULT CALLBACK Window_ClassProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    const LRESULT result = Window_HandleMessage(handle, message, wParam, lParam);
    // Only a frame with an MDI client gadget of this runtime would hand messages to the frame's
    // default procedure; the runtime has no such gadget kind, so none does, whatever a
    // "Tavi_MDI_Gadget" property that another program set may name.
    SetLastError(0);
    return result == NOT_HANDLED ? DefWindowProcW(handle, message, wParam, lParam) : result;
}
