// Numbered top-level windows: opening, closing and the window library's life.
#include "runtime/gui/internal/events.h"
#include "runtime/gui/internal/gadgets.h"
#include "runtime/gui/internal/message_origin.h"
#include "runtime/gui/internal/test_seams.h"
#include "runtime/gui/internal/window_procedure.h"
#include "runtime/gui/internal/window_records.h"

#include <iterator>

namespace {

constexpr int32_t kWindowGrowthStep = 16;
// With desktop composition, a sizeable captioned window opens this far left of where it was
// asked for, so that its visible frame lands there.
constexpr int32_t kCompositionCaptionOffset = 5;
constexpr int32_t kAcceleratorCount = 2;
// Runtime bits that share the style's space: they never reach CreateWindowExW, nor the frame
// size.
constexpr DWORD kRuntimeFrameBits =
    WINDOW_CENTER_ON_SCREEN | WINDOW_CENTER_ON_PARENT | WINDOW_TOOL_FRAME;
constexpr DWORD kCreateStyleMask = ~(kRuntimeFrameBits | WINDOW_SHOW_NO_ACTIVATE);
// A tool frame has no minimise or maximise box and never starts minimised or maximised.
constexpr DWORD kToolFrameMask =
    ~static_cast<DWORD>(WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_MINIMIZE | WS_MAXIMIZE);
constexpr uint32_t kCenteringFlags = WINDOW_CENTER_ON_SCREEN | WINDOW_CENTER_ON_PARENT;

ObjectRegistry* window_registry = nullptr;
WindowState* window_state = nullptr;
WindowHooks* window_hooks = nullptr;
HICON default_icon = nullptr;
HCURSOR arrow_cursor = nullptr;

// Desktop composition is asked about once, on the first need, and never again; the answer
// belongs to the query that gave it (a test's stand-in, or null for the system's).
CompositionQuery composition_query = nullptr;
bool composition_queried = false;
CompositionQuery composition_answered_by = nullptr;
BOOL composition_enabled = FALSE;

struct WindowStyle {
    DWORD style;
    DWORD ex_style;
    bool keep_gadget_list;
    bool start_hidden;
    bool no_activate;
};

WindowStyle StyleFromFlags(uint32_t flags) {
    WindowStyle result{};
    result.keep_gadget_list = (flags & WINDOW_KEEP_GADGET_LIST) != 0;
    flags &= ~WINDOW_KEEP_GADGET_LIST;
    // Nothing but placement bits: the window still gets a title bar.
    if ((flags & ~(kCenteringFlags | WINDOW_START_HIDDEN)) == 0) {
        flags |= WS_CAPTION;
    }
    result.start_hidden = (flags & WINDOW_START_HIDDEN) != 0;
    flags &= ~WINDOW_START_HIDDEN;
    result.no_activate = (flags & WINDOW_SHOW_NO_ACTIVATE) != 0;
    if (flags & WINDOW_TOOL_FRAME) {
        flags = (flags & kToolFrameMask) | WS_CAPTION;
        result.ex_style = WS_EX_TOOLWINDOW;
    }
    result.style = flags;
    return result;
}

// Tab and Shift+Tab become focus moves through the window's accelerator table.
void MakeAccelerators(WindowRecord* record) {
    record->accel_count = kAcceleratorCount;
    auto* entries = static_cast<ACCEL*>(Runtime_Alloc(sizeof(ACCEL) * kAcceleratorCount));
    if (!entries) {
        return;
    }
    entries[0] = ACCEL{.fVirt = FVIRTKEY | FNOINVERT, .key = VK_TAB, .cmd = ID_FOCUS_NEXT};
    entries[1] =
        ACCEL{.fVirt = FVIRTKEY | FNOINVERT | FSHIFT, .key = VK_TAB, .cmd = ID_FOCUS_PREVIOUS};
    record->accel_entries = entries;
    record->accel_table = CreateAcceleratorTableW(entries, kAcceleratorCount);
}

} // namespace

ObjectRegistry* Window_Registry() {
    return window_registry;
}

WindowState* Window_State() {
    return window_state;
}

WindowHooks* Window_Hooks() {
    return window_hooks;
}

WindowRecord* Window_RecordOf(HWND handle, int64_t* number) {
    return static_cast<WindowRecord*>(Objects_FindHandle(window_registry, handle, number));
}

void Window_ClassName(int64_t identity, wchar_t (&buffer)[WINDOW_CLASS_NAME_LENGTH]) {
    String_Numbers(buffer, std::size(buffer), L"WindowClass_", {identity});
}

int32_t Window_CaptionOffset() {
    if (!composition_queried || composition_answered_by != composition_query) {
        composition_queried = true;
        composition_answered_by = composition_query;
        composition_enabled = FALSE;
        CompositionQuery query = composition_query;
        if (!query) {
            // Looked up at run time: the library is missing before Windows Vista. It stays
            // loaded.
            HMODULE dwmapi = Runtime_LoadSystemLibrary(L"dwmapi.dll");
            query = Runtime_Proc<CompositionQuery>(dwmapi, "DwmIsCompositionEnabled");
        }
        if (query) {
            query(&composition_enabled);
        }
    }
    return composition_enabled ? kCompositionCaptionOffset : 0;
}

CompositionQuery& Window_CompositionQuerySeam() {
    return composition_query;
}

int64_t Window_Open(int64_t number, int32_t x, int32_t y, int32_t inner_width, int32_t inner_height,
                    const wchar_t* title, uint32_t flags, HWND parent) {
    // An open window of the same number is closed here, before anything new exists.
    auto* record = static_cast<WindowRecord*>(Objects_Create(window_registry, number));
    if (!record) {
        return 0;
    }
    const int64_t identity = number == ANY_NUMBER ? reinterpret_cast<int64_t>(record) : number;
    HINSTANCE module = Runtime_Module();
    wchar_t class_name[WINDOW_CLASS_NAME_LENGTH];
    Window_ClassName(identity, class_name);

    // A class of that name that is still registered is simply used.
    WNDCLASSW window_class{.style = CS_DBLCLKS,
                           .lpfnWndProc = Window_ClassProc,
                           .hInstance = module,
                           .hIcon = default_icon,
                           .hCursor = arrow_cursor,
                           .hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1),
                           .lpszClassName = class_name};
    RegisterClassW(&window_class);

    const WindowStyle style = StyleFromFlags(flags);
    RECT outer{0, 0, inner_width, inner_height};
    AdjustWindowRectEx(&outer, style.style & ~kRuntimeFrameBits, FALSE, style.ex_style);

    if (x == WINDOW_SYSTEM_POSITION ||
        (y == WINDOW_SYSTEM_POSITION && !(flags & kCenteringFlags))) {
        x = y = CW_USEDEFAULT;
    } else if ((style.style & WS_CAPTION) == WS_CAPTION && (style.style & WS_THICKFRAME)) {
        x -= Window_CaptionOffset();
    }

    HWND handle = nullptr;
    {
        WindowLifeScope making;
        handle = CreateWindowExW(style.ex_style, class_name, title ? title : L"",
                                 style.style & kCreateStyleMask, x, y, outer.right - outer.left,
                                 outer.bottom - outer.top, parent, nullptr, module, nullptr);
    }
    record->handle = handle;
    if (!handle) {
        UnregisterClassW(class_name, module);
        Objects_Remove(window_registry, identity);
        return 0;
    }
    // Until the window is complete, its procedure posts no move or size events.
    record->ready = 0;
    SetPropW(handle, kWindowIdProperty, reinterpret_cast<HANDLE>(identity + 1));
    if (flags & kCenteringFlags) {
        Window_CenterPosition(handle, flags, parent);
    }
    if (!style.start_hidden) {
        ShowWindow(handle, Window_ShowCommand((style.style & WS_MAXIMIZE) != 0,
                                              (style.style & WS_MINIMIZE) != 0, style.no_activate));
    }
    record->minmax_state = (style.style & (WS_MINIMIZE | WS_MAXIMIZE)) ? 1 : 0;
    MakeAccelerators(record); // the record came zeroed: no MDI client
    if (!style.keep_gadget_list) {
        GadgetList_Use(handle);
    }
    record->ready = 1;
    return number == ANY_NUMBER ? identity : reinterpret_cast<int64_t>(handle);
}

void Window_Close(int64_t number) {
    if (number == ANY_NUMBER) {
        Objects_ReleaseAll(window_registry);
        return;
    }
    auto* record = static_cast<WindowRecord*>(Objects_Get(window_registry, number));
    if (!record) {
        return;
    }
    Event_UnbindWindow(number);
    // The resources are taken off the record first: a close that runs again for this window
    // while it is being destroyed finds none to free twice, and we never read a record that
    // such a close may already have freed.
    const HWND handle = record->handle;
    const HWND mdi_client = record->mdi_client;
    ACCEL* const accel_entries = record->accel_entries;
    const HACCEL accel_table = record->accel_table;
    const HBRUSH background = record->background;
    record->accel_entries = nullptr;
    record->accel_table = nullptr;
    record->background = nullptr;
    HWND owner = GetWindow(handle, GW_OWNER);
    if (owner && !mdi_client) {
        SetActiveWindow(owner);
    }
    // The runtime registers no drop target, so there is nothing to revoke: a property that any
    // program may set is no reason to have OLE act on what it finds on the window.
    RemovePropW(handle, kWindowIdProperty);
    RemovePropW(handle, kDropAcceptProperty);
    WindowLifeScope ending(handle);
    if (mdi_client) {
        SendMessageW(mdi_client, WM_MDIDESTROY, reinterpret_cast<WPARAM>(handle), 0);
    } else {
        // Destroying the window destroys its gadgets too.
        DestroyWindow(handle);
        wchar_t class_name[WINDOW_CLASS_NAME_LENGTH];
        Window_ClassName(number, class_name);
        UnregisterClassW(class_name, Runtime_Module());
    }
    if (accel_entries) {
        Runtime_Free(accel_entries);
        DestroyAcceleratorTable(accel_table);
    }
    if (background) {
        DeleteObject(background);
    }
    Event_DiscardWindow(number);
    Objects_Remove(window_registry, number);
}

void Window_Init() {
    window_registry = Objects_NewRegistry(sizeof(WindowRecord), kWindowGrowthStep, Window_Close);
    window_state =
        static_cast<WindowState*>(Objects_NewState(sizeof(WindowState), nullptr, nullptr));
    window_hooks =
        static_cast<WindowHooks*>(Objects_NewState(sizeof(WindowHooks), nullptr, nullptr));
    default_icon = LoadIconW(Runtime_Module(), MAKEINTRESOURCEW(1));
    arrow_cursor = LoadCursorW(nullptr, IDC_ARROW);
}

void Window_End() {
    Objects_ReleaseAll(window_registry);
    if (default_icon) {
        DestroyIcon(default_icon);
        default_icon = nullptr;
    }
}
