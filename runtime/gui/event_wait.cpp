// Event_Wait: queued events first, otherwise exactly one Windows message, with the active
// window's accelerators (Tab and Shift+Tab) and its keyboard cues.
#include "runtime/gui/internal/events.h"
#include "runtime/gui/internal/message_origin.h"
#include "runtime/gui/internal/window_records.h"

#include <richedit.h>

#include <cwchar>
#include <iterator>

namespace {

// Input, posted, sent, timer, paint and hot-key messages: any message at all ends the wait.
// (The touch and pointer bits that newer headers add to QS_ALLINPUT are left out.)
constexpr DWORD kWakeMask = QS_KEY | QS_MOUSEMOVE | QS_MOUSEBUTTON | QS_POSTMESSAGE | QS_TIMER |
                            QS_PAINT | QS_SENDMESSAGE | QS_HOTKEY | QS_ALLPOSTMESSAGE | QS_RAWINPUT;
static_assert(kWakeMask == 0x5FF);
constexpr UINT kPeekFlags = PM_REMOVE | PM_NOYIELD;
constexpr WPARAM kShowCues = MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS | UISF_HIDEACCEL);
constexpr WPARAM kHideCues = MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS | UISF_HIDEACCEL);

// GetKeyState sets the high bit of its answer while the key is down.
constexpr SHORT kKeyDownBit = static_cast<SHORT>(0x8000);

bool KeyDown(int key) {
    return (GetKeyState(key) & kKeyDownBit) != 0;
}

bool AnyModifierDown() {
    return KeyDown(VK_CONTROL) || KeyDown(VK_SHIFT) || KeyDown(VK_MENU);
}

// An editable rich-edit control takes a plain Tab as a character.
bool RichEditWantsTab(HWND focus) {
    if (!KeyDown(VK_TAB) || AnyModifierDown()) {
        return false;
    }
    wchar_t class_name[5] = {}; // "Rich" and the terminator
    GetClassNameW(focus, class_name, static_cast<int>(std::size(class_name)));
    if (std::wcsncmp(class_name, L"Rich", 4) != 0) {
        return false;
    }
    return !(SendMessageW(focus, EM_GETOPTIONS, 0, 0) & ECO_READONLY);
}

// Gets one message within `timeout`; false when none came.
bool GetOneMessage(MSG* message, int32_t timeout) {
    if (timeout == -1) {
        GetMessageW(message, nullptr, 0, 0); // WM_QUIT is returned like any other message
        return true;
    }
    if (PeekMessageW(message, nullptr, 0, 0, kPeekFlags)) {
        return true;
    }
    if (timeout == 0) {
        return false;
    }
    // One wait per call; what is left of the timeout is not waited for again.
    if (MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeout), kWakeMask) ==
        WAIT_TIMEOUT) {
        return false;
    }
    return PeekMessageW(message, nullptr, 0, 0, kPeekFlags) != FALSE;
}

void RecordLastMessage(WPARAM wParam, LPARAM lParam) {
    if (WindowState* state = Window_State()) {
        state->last_wparam = wParam;
        state->last_lparam = lParam;
    }
}

} // namespace

void Event_KeyboardCues(HWND handle, int show) {
    const LRESULT state = SendMessageW(handle, WM_QUERYUISTATE, 0, 0);
    const LRESULT hidden = UISF_HIDEFOCUS | UISF_HIDEACCEL;
    if (show) {
        if (state & hidden) {
            SendMessageW(handle, WM_UPDATEUISTATE, kShowCues, 0);
        }
    } else if ((state & hidden) != hidden) {
        SendMessageW(handle, WM_UPDATEUISTATE, kHideCues, 0);
    }
}

HACCEL Event_PickAccelerators(HWND active) {
    HWND focus = GetFocus();
    if (focus && RichEditWantsTab(focus)) {
        return nullptr;
    }
    if (active && AnyModifierDown()) {
        Event_KeyboardCues(active, 1);
    }
    // A shortcut-key gadget would record Tab like any other key; the runtime has no such gadget
    // kind, so a "Tavi_Hotkey" property, which any program may set, keeps no Tab from moving the
    // focus. The active window's table is the one of the window registry's record for it.
    int64_t number = -1;
    DWORD process = 0;
    WindowRecord* record = active ? Window_RecordOf(active, &number) : nullptr;
    if (!record || !GetWindowThreadProcessId(active, &process) ||
        process != GetCurrentProcessId()) {
        return nullptr;
    }
    return record->accel_table;
}

int64_t Event_Wait(int32_t timeout) {
    if (const int32_t code = Event_Dequeue()) {
        RecordLastMessage(0, 0);
        return code;
    }
    MSG message{};
    if (!GetOneMessage(&message, timeout)) {
        return 0;
    }
    // The guard turns forgeries into WM_NULL as they are retrieved; should the system have
    // refused it, they are dropped here. Either way no message hands out a runtime event's code.
    if (Event_IsForgedPost(message)) {
        RecordLastMessage(0, 0);
        return WM_NULL;
    }
    HWND active = GetActiveWindow();
    HACCEL table = Event_PickAccelerators(active);
    WindowHooks* hooks = Window_Hooks();
    const bool hooked = hooks && hooks->message_hook &&
                        hooks->message_hook(&message, message.wParam, message.lParam);
    if (!hooked) {
        if (table && TranslateAcceleratorW(active, table, &message)) {
            if (active) {
                Event_KeyboardCues(active, 1);
            }
        } else {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    RecordLastMessage(message.wParam, message.lParam);
    return message.message;
}
