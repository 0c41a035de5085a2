// The window library's wiring: window records and the library's state blocks, the record of a
// handle, window class names and positions. Applications use runtime/gui/gui.h.
#pragma once

#include "runtime/core/internal/core.h"
#include "runtime/gui/gui.h"

#include <cstddef>

// Window properties. Any program on the desktop can set, change or remove a property of our
// windows, so the runtime sets them for whoever looks but never decides anything by them: its
// own records say which window and which gadget a handle is, and where a window's saved focus
// and its gadget-list snapshot are.
constexpr wchar_t kWindowIdProperty[] = L"Tavi_WindowID";     // identity + 1
constexpr wchar_t kFocusProperty[] = L"Tavi_Focus";           // focus at the last deactivation
// The mark of an OLE drop target: the runtime makes none and never sets it, but removes it from a
// window or gadget that goes.
constexpr wchar_t kDropAcceptProperty[] = L"Tavi_DropAccept";

using WindowCallback = LRESULT (*)(HWND handle, UINT message, WPARAM wParam, LPARAM lParam);
using EraseCallback = LRESULT (*)(WPARAM device_context, HWND handle);
// Sees every retrieved message first; non-zero keeps it from translation and dispatch.
using MessageHook = BOOL (*)(MSG* message, WPARAM wParam, LPARAM lParam);

// One live window; allocated zeroed by the window registry. The design keeps fields for kinds
// of window this program never makes: they stay zero, and the message handler honours them
// should they ever be set.
struct WindowRecord {
    HWND handle; // live while not null
    ACCEL* accel_entries;
    HACCEL accel_table;
    WindowCallback callback; // sees every message first (never set here)
    int32_t accel_count;
    HBRUSH background;            // fills the client area, deleted at the close (never set here)
    HWND mdi_client;              // of an MDI frame (never set here)
    EraseCallback erase_callback; // erases a window without a brush (never set here)
    uint16_t min_width;           // tracking bounds, 0 for none (never set here)
    uint16_t min_height;
    uint16_t max_width;
    uint16_t max_height;
    int32_t minmax_state; // 1 while minimised or maximised
    int32_t ready;        // 1 once Window_Open has finished
    HWND saved_focus;     // the control of the window that had the focus when it was left
};
// The registry finds a window's record by its handle, which it reads as the first field.
static_assert(offsetof(WindowRecord, handle) == 0 && sizeof(WindowRecord::handle) == sizeof(void*));

// The window library's state block.
struct WindowState {
    WPARAM last_wparam; // of the last message Event_Wait retrieved (read by nothing here)
    LPARAM last_lparam;
    WindowCallback global_callback; // for windows without a callback of their own (never set here)
};

// The window library's second state block: the hook Event_Wait offers each message to.
struct WindowHooks {
    MessageHook message_hook; // (never set here)
};

// Moves a window to the centre of the primary screen or of `reference`.
void Window_CenterPosition(HWND handle, uint32_t flags, HWND reference);
// The ShowWindow command for a maximised, minimised or normal window, activated or not
// (SW_MAXIMIZE and SW_SHOWMAXIMIZED are the same command).
int Window_ShowCommand(bool maximized, bool minimized, bool no_activate);
// 5 when desktop composition is on, else 0; the system is asked once, on the first call.
int32_t Window_CaptionOffset();

ObjectRegistry* Window_Registry();
WindowState* Window_State();
WindowHooks* Window_Hooks();
// The live record of the window whose handle is `handle` (not of a window it belongs to), or
// null; its number goes to `number` when one is found.
WindowRecord* Window_RecordOf(HWND handle, int64_t* number);
// "WindowClass_<identity>", written into `buffer`.
constexpr size_t WINDOW_CLASS_NAME_LENGTH = 40;
void Window_ClassName(int64_t identity, wchar_t (&buffer)[WINDOW_CLASS_NAME_LENGTH]);
