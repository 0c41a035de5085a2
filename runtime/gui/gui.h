// Runtime windows and events: numbered windows, the event loop and its queue, the window class
// procedure with keyboard navigation, button gadgets, the modal message requester and the font
// library.
#pragma once

#include "runtime/core/core.h"

#include <cstdint>

// ---------------------------------------------------------------------------------------------
// Message requester
// ---------------------------------------------------------------------------------------------

// One window that a requester took out of the way while its box is up.
struct SuspendedWindow {
    DWORD thread;
    HWND window;
    uint8_t was_topmost;
    uint8_t disabled_here;
};

// Shows a modal message box; the calling thread's other visible windows are disabled and its
// topmost windows lowered while it is up, then put back exactly as they were.
int64_t Requester_Message(const wchar_t* title, const wchar_t* text, uint32_t flags);
HWND Requester_PickOwner();
void Requester_SetModal(int state);
BOOL CALLBACK Requester_CollectWindow(HWND window, LPARAM lParam);
// First entry of the suspended window list (null when empty); entries are list records.
SuspendedWindow* Requester_SuspendedList();

// ---------------------------------------------------------------------------------------------
// Font library
// ---------------------------------------------------------------------------------------------

void Font_Init();
void Font_End();
// Vertical resolution of the screen in dots per inch, 96 without a display device context.
int Font_ScreenDpiY();

// ---------------------------------------------------------------------------------------------
// Results of the runtime's window procedures
// ---------------------------------------------------------------------------------------------

// A handler leaves the message alone; the default procedure is to run.
constexpr LRESULT NOT_HANDLED = -791621423;
// A user window callback lets the runtime's own handling go on.
constexpr LRESULT USER_DEFAULT = -522133279;

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

// Commands of every window's accelerator table.
constexpr WORD ID_FOCUS_NEXT = 64001;
constexpr WORD ID_FOCUS_PREVIOUS = 64002;

// Window properties.
constexpr wchar_t kWindowIdProperty[] = L"Tavi_WindowID";     // identity + 1
constexpr wchar_t kFocusProperty[] = L"Tavi_Focus";           // focus at the last deactivation
constexpr wchar_t kDropAcceptProperty[] = L"Tavi_DropAccept"; // set while an OLE drop target
constexpr wchar_t kMdiGadgetProperty[] = L"Tavi_MDI_Gadget";  // MDI client of a frame window
constexpr wchar_t kHotkeyProperty[] = L"Tavi_Hotkey";         // marks a shortcut-key gadget

// Runtime messages besides the Windows ones.
constexpr UINT kTrayCallbackMessage = 12501; // tray icon callback, mouse message in lParam
constexpr UINT kGadgetMessage = 13120;       // addressed to a gadget, its control in lParam

using WindowCallback = LRESULT (*)(HWND handle, UINT message, WPARAM wParam, LPARAM lParam);
using EraseCallback = LRESULT (*)(WPARAM device_context, HWND handle);
// Sees every retrieved message first; non-zero keeps it from translation and dispatch.
using MessageHook = BOOL (*)(MSG* message, WPARAM wParam, LPARAM lParam);

// One live window; allocated zeroed by the window registry.
struct WindowRecord {
    HWND handle; // live while not null
    ACCEL* accel_entries;
    HACCEL accel_table;
    WindowCallback callback;
    int32_t accel_count;
    HBRUSH background;
    HWND mdi_client;
    EraseCallback erase_callback;
    uint16_t min_width;
    uint16_t min_height;
    uint16_t max_width;
    uint16_t max_height;
    int32_t minmax_state; // 1 while minimised or maximised
    int32_t ready;        // 1 once Window_Open has finished
};

// The window library's state block.
struct WindowState {
    WPARAM last_wparam; // of the last message Event_Wait retrieved
    LPARAM last_lparam;
    WindowCallback global_callback;
};

// The window library's second state block: the hook Event_Wait offers each message to.
struct WindowHooks {
    MessageHook message_hook;
};

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
// Moves a window to the centre of the primary screen or of `reference`.
void Window_CenterPosition(HWND handle, uint32_t flags, HWND reference);
// The ShowWindow command for a maximised, minimised or normal window, activated or not
// (SW_MAXIMIZE and SW_SHOWMAXIMIZED are the same command).
int Window_ShowCommand(bool maximized, bool minimized, bool no_activate);
// 5 when desktop composition is on, else 0; the system is asked once, on the first call.
int32_t Window_CaptionOffset();
void Window_Init();
void Window_End();

ObjectRegistry* Window_Registry();
WindowState* Window_State();
WindowHooks* Window_Hooks();
// The number of the window that owns `handle` by its "Tavi_WindowID" property, or -1.
int64_t Window_NumberOf(HWND handle);
// "WindowClass_<identity>", written into `buffer`.
void Window_ClassName(int64_t identity, wchar_t (&buffer)[40]);

// The window class procedure of every runtime window and the message handler behind it.
LRESULT CALLBACK Window_ClassProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT Window_HandleMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam);

// Whether the message being handled comes from this thread: sent by it or dispatched by its
// loop, not sent from another thread or process. While the thread handles a message sent from
// elsewhere, what it sends itself meanwhile counts as from elsewhere too.
bool Window_SentByThisThread();
// Whether `message` creates or destroys a window (WM_NCCREATE, WM_CREATE, WM_DESTROY,
// WM_NCDESTROY) and was sent from another thread or process: a forgery, which every window
// procedure of the runtime refuses before it touches anything.
bool Window_LifeMessageFromElsewhere(UINT message);
// Whether `control` is a window of this thread inside `window` (a child or deeper descendant).
bool Window_IsChildControl(HWND window, HWND control);

// Offers a message about `control` to the message handler of the gadget that owns it.
LRESULT Gadget_ForwardMessage(HWND control, HWND window_handle, UINT message, WPARAM wParam,
                              LPARAM lParam);
// Moves the keyboard focus to the next (0) or previous (non-zero) tab stop of the active window.
void Focus_Step(int backwards);

// ---------------------------------------------------------------------------------------------
// Event loop and event queue
// ---------------------------------------------------------------------------------------------

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
// The runtime's event codes lie in this range; Event_Wait never hands out a message number
// from it.
constexpr int32_t EVENT_FIRST = EVENT_GADGET;
constexpr int32_t EVENT_LAST = EVENT_WINDOW_RESIZED;

// The most events the queue holds. Events come from messages that anyone may post, and while a
// modal loop (a message box) runs nothing takes them out: at the bound a new event is dropped,
// so that a flood costs a bounded amount of memory. The loop itself takes them out one per
// Event_Wait, far faster than a person clicks.
constexpr int32_t EVENT_QUEUE_LIMIT = 1024;

// Post flags.
constexpr uint32_t POST_ALWAYS = 1;          // queued even while the queue is closed
constexpr uint32_t POST_DEFER_CALLBACKS = 2; // bindings run at dequeue; never merged

// Releases the data an event carries.
using EventRelease = void (*)(intptr_t data);
// A bound callback.
using EventCallback = void (*)();

struct EventNode {
    EventNode* next; // the next newer event
    int32_t code;
    uint32_t post_flags;
    int64_t object;
    int64_t window;
    int64_t type;
    intptr_t data;
    EventRelease data_release;
};

// Recycles event nodes; opaque outside the queue.
struct EventNodePool;

// The event queue's state block.
struct EventQueue {
    EventNodePool* pool;
    EventNode* head; // oldest
    EventNode* tail; // newest
    int32_t closed;  // while non-zero, only POST_ALWAYS posts are queued
    int32_t current_code;
    int64_t current_window;
    int64_t current_object;
    int64_t current_type; // -1 when no queued event was taken
    intptr_t current_data;
    EventRelease current_release;
    int32_t length; // queued events, at most EVENT_QUEUE_LIMIT
};

// What another thread sends to the post-event window to deliver an event.
struct PostedEvent {
    uint64_t unused_head;
    int32_t code;
    uint32_t unused_pad;
    int64_t object;
    int64_t window;
    int64_t type;
    intptr_t data;
};

// The next queued event, or else the number of the one Windows message retrieved and
// dispatched, or 0 when a timed wait ran out. `timeout` in ms: -1 waits, 0 only looks.
int64_t Event_Wait(int32_t timeout = -1);
// Whether a message the thread retrieved (posted to a window or to the thread, not sent) can
// only be a forgery: a control notification or command, a window's life message, or a message
// whose number is a runtime event code.
bool Event_IsForgedPost(const MSG& message);
// Watches every message the thread retrieves, in Event_Wait and in modal loops alike, and turns
// forgeries into WM_NULL; installed by Event_Init. False when the system refused the hook:
// Event_Wait still drops the forgeries it retrieves itself, and no address is read out of a
// notification (which a modal loop could then dispatch) for as long as the guard is missing.
bool Event_GuardPostedMessages();
void Event_UnguardPostedMessages();
bool Event_PostsGuarded();
int64_t Event_Gadget();
int64_t Event_Type();
void Event_Post(int32_t code, int64_t object, int64_t window, int64_t type, intptr_t data = 0,
                EventRelease data_release = nullptr, uint32_t post_flags = 0);
// Drops every queued event matching all four fields; -1 matches any value.
void Event_Discard(int32_t code, int64_t object, int64_t window, int64_t type);
void Event_DiscardWindow(int64_t window);
// Makes the oldest queued event the current one and returns its code, or 0 when none.
int32_t Event_Dequeue();
EventQueue* Event_Queue();
void Event_QueueInit();

// Runs the callbacks bound to one binding key.
void Event_RunBindings(int32_t code, int64_t window, int64_t object, int64_t type);
// Runs the five binding keys of one event in their order.
void Event_RunEventBindings(int32_t code, int64_t window, int64_t object, int64_t type);
// Drops every binding of `window`.
void Event_UnbindWindow(int64_t window);
// Internal: binds a callback to one key ("%d:%I64d:%I64d:%I64d", -1 for any value). Nothing in
// the program binds; the tests use it to prove the lookups and the clean-up.
bool Event_Bind(int32_t code, int64_t window, int64_t object, int64_t type, EventCallback callback);
void Event_BindingsInit();

// The accelerator table to translate with for the active window, or null.
HACCEL Event_PickAccelerators(HWND active);
// Shows (`show` non-zero) or hides a window's focus rectangles and accelerator underlines.
void Event_KeyboardCues(HWND handle, int show);

// The post-event window: other threads deliver events through it.
LRESULT CALLBACK Event_PostWindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam);
// Delivers an event from any thread; it reaches the queue when the event-loop thread
// dispatches the message. Returns false when it could not be sent.
bool Event_PostFromThread(int32_t code, int64_t object, int64_t window, int64_t type,
                          intptr_t data = 0);
HWND Event_PostWindow();
UINT Event_PostMessageId();

void Event_Init();
void Event_End();

// ---------------------------------------------------------------------------------------------
// Gadgets
// ---------------------------------------------------------------------------------------------

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
    intptr_t kind_data[4]; // per-gadget data of other kinds; a button uses none
};

// The gadget library's state block.
struct GadgetListState {
    HWND current; // receives new gadgets as children
    HFONT font;   // sent to every new gadget
    HWND* stack;  // container stack, from the runtime heap
    int32_t depth;
    int32_t capacity;
    HWND auxiliary; // destroyed by Gadget_End when set
};

// Saved gadget list state of one window, hung on it as a property.
struct GadgetListSnapshot {
    HWND window;
    HWND saved_current;
    HWND* saved_stack; // owned while held
    int32_t saved_depth;
    int32_t saved_capacity;
    WNDPROC previous_proc;
};

constexpr wchar_t kGadgetIdProperty[] = L"Tavi_ID";

// Creates a push button in the current gadget list. Returns the identity for ANY_NUMBER, the
// control's handle for a number, 0 when no control could be made.
int64_t Button_Create(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                      const wchar_t* text, uint32_t flags = 0);
int64_t Button_GetState(GadgetRecord* record);
LRESULT Button_SetState(GadgetRecord* record, int64_t value);
void Button_RequiredSize(GadgetRecord* record, int32_t* width, int32_t* height);
const GadgetKind* Button_Kind();

// Makes `window` the current gadget list; returns the previous owning window.
HWND GadgetList_Use(HWND window);
// The window that owns the current gadget list, or null.
HWND GadgetList_Owner();
GadgetListState* GadgetList_State();
void GadgetList_Init();
// "Tavi_GadgetStack_<module handle>", made once by GadgetList_Init.
const wchar_t* GadgetList_PropertyName();
LRESULT CALLBACK GadgetList_WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

int64_t Gadget_Attach(int64_t number, GadgetRecord* record, HWND control, const GadgetKind* kind);
LRESULT CALLBACK Gadget_WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The gadget registry's release operation; ANY_NUMBER releases every gadget.
void Gadget_Free(int64_t identity);
ObjectRegistry* Gadget_Registry();
HFONT Gadget_DefaultFont();
void Gadget_Init();
void Gadget_End();
// Registers the common-control classes the runtime's gadgets may use (0xB48).
void Gadget_InitCommonControls();
