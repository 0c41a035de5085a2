// Windows and events, as an application uses them: numbered windows, the event loop and the
// runtime's event codes, push-button gadgets, the modal message requester, and each library's
// start and end. The wiring between the library's own files (window and gadget records, the
// event queue, the guard against messages from elsewhere) is in runtime/gui/internal/.
#pragma once

#include "runtime/core/core.h"

#include <cstdint>

// ---------------------------------------------------------------------------------------------
// Message requester
// ---------------------------------------------------------------------------------------------

// Shows a modal message box; the calling thread's other visible windows are disabled and its
// topmost windows lowered while it is up, then put back exactly as they were.
int64_t Requester_Message(const wchar_t* title, const wchar_t* text, uint32_t flags);

// ---------------------------------------------------------------------------------------------
// Windows
// ---------------------------------------------------------------------------------------------

// Runtime bits of the window flags; every other bit is a Win32 window style.
constexpr uint32_t WINDOW_CENTER_ON_SCREEN = 0x00000001;
constexpr uint32_t WINDOW_CENTER_ON_PARENT = 0x00000002;
constexpr uint32_t WINDOW_TOOL_FRAME = 0x00000004;
constexpr uint32_t WINDOW_KEEP_GADGET_LIST = 0x00000008;
constexpr uint32_t WINDOW_START_MAXIMIZED = 0x01000000; // WS_MAXIMIZE
constexpr uint32_t WINDOW_SHOW_NO_ACTIVATE = 0x02000000;
constexpr uint32_t WINDOW_START_HIDDEN = 0x10000000;
constexpr uint32_t WINDOW_START_MINIMIZED = 0x20000000; // WS_MINIMIZE
constexpr uint32_t WINDOW_DEFAULT_FLAGS = WS_CAPTION | WS_SYSMENU;
// A coordinate that lets the system choose the position.
constexpr int32_t WINDOW_SYSTEM_POSITION = -65535;

// Opens window `number` (or a new one for ANY_NUMBER) with a client area of the given size.
// Returns the identity for ANY_NUMBER, the window handle for a number, 0 on failure.
int64_t Window_Open(int64_t number, int32_t x, int32_t y, int32_t inner_width, int32_t inner_height,
                    const wchar_t* title, uint32_t flags = WINDOW_DEFAULT_FLAGS,
                    HWND parent = nullptr);
// Destroys a live window and releases its record; ANY_NUMBER closes all of them.
void Window_Close(int64_t number);
// `state` non-zero hides the window, 0 shows it again as `show_flags` say.
void Window_Hide(int64_t number, int state, uint32_t show_flags = 0);
void Window_SetTopmost(int64_t number, int state);
void Window_Init();
void Window_End();

// ---------------------------------------------------------------------------------------------
// Event loop
// ---------------------------------------------------------------------------------------------

// Runtime event codes; any other code that Event_Wait returns is the number of the Windows
// message it dispatched.
constexpr int32_t EVENT_GADGET = 13100;
constexpr int32_t EVENT_COMMAND = 13101;
constexpr int32_t EVENT_TRAY_NOTIFY = 13102;
constexpr int32_t EVENT_WINDOW_ACTIVATED = 13104;
constexpr int32_t EVENT_WINDOW_MINIMIZED = 13107;
constexpr int32_t EVENT_WINDOW_MAXIMIZED = 13108;
constexpr int32_t EVENT_WINDOW_RESTORED = 13109;
constexpr int32_t EVENT_TIMER_TICK = 13110;
constexpr int32_t EVENT_RIGHT_BUTTON_UP = 13111;
constexpr int32_t EVENT_LEFT_BUTTON_UP = 13112;
constexpr int32_t EVENT_LEFT_DOUBLE_CLICK = 13113;
constexpr int32_t EVENT_WINDOW_DEACTIVATED = 13114;
constexpr int32_t EVENT_ERASE_BACKGROUND = 13115;
constexpr int32_t EVENT_CLOSE_WINDOW = 13116;
constexpr int32_t EVENT_WINDOW_MOVED = 13117;
constexpr int32_t EVENT_WINDOW_RESIZED = 13118;

// The next queued event, or else the number of the one Windows message retrieved and
// dispatched, or 0 when a timed wait ran out. `timeout` in ms: -1 waits, 0 only looks.
int64_t Event_Wait(int32_t timeout = -1);
int64_t Event_Gadget();
int64_t Event_Type();

void Event_Init();
void Event_End();

// ---------------------------------------------------------------------------------------------
// Button gadgets
// ---------------------------------------------------------------------------------------------

// Creates a push button in the current gadget list. Returns the identity for ANY_NUMBER, the
// control's handle for a number, 0 when no control could be made.
int64_t Button_Create(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                      const wchar_t* text, uint32_t flags = 0);

void Gadget_Init();
void Gadget_End();
// Registers the common-control classes the runtime's gadgets may use (tab, hot-key, date,
// extended combo box and internet-address controls).
void Gadget_InitCommonControls();

// ---------------------------------------------------------------------------------------------
// Font library
// ---------------------------------------------------------------------------------------------

void Font_Init();
void Font_End();
