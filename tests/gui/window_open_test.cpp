#include "gui/gui_support.h"
#include "runtime/gui/internal/events.h"
#include "runtime/gui/internal/gadgets.h"
#include "runtime/gui/internal/test_seams.h"
#include "runtime/gui/internal/window_procedure.h"
#include "runtime/gui/internal/window_records.h"
#include "support/scoped_seam.h"

using namespace gui_test;

namespace {

class WindowOpen : public GuiTest {};

constexpr uint32_t kSizeable =
    WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

HWND Open(int64_t number, uint32_t flags, int x = 10, int y = 10, int width = 120, int height = 60,
          HWND parent = nullptr) {
    Window_Open(number, x, y, width, height, L"test", flags, parent);
    return HandleOf(number);
}

LONG_PTR StyleOf(HWND window) {
    return GetWindowLongPtrW(window, GWL_STYLE);
}

// Where the window's outer rectangle is centred on `outer`, as the runtime truncates it.
POINT CentreIn(const RECT& outer, HWND window) {
    const RECT inner = RectOf(window);
    return {outer.left + (outer.right - outer.left - (inner.right - inner.left)) / 2,
            outer.top + (outer.bottom - outer.top - (inner.bottom - inner.top)) / 2};
}

// Stand-ins for the system's composition query: each gives its answer and counts calls.
int composition_queries = 0;
template <BOOL answer> HRESULT WINAPI CountedCompositionQuery(BOOL* enabled) {
    ++composition_queries;
    *enabled = answer;
    return S_OK;
}

int32_t CompositionOffsetOfTheSystem() {
    using Query = HRESULT(WINAPI*)(BOOL*);
    BOOL enabled = FALSE;
    if (auto query = Runtime_Proc<Query>(LoadLibraryW(L"dwmapi.dll"), "DwmIsCompositionEnabled")) {
        query(&enabled);
    }
    return enabled ? 5 : 0;
}

} // namespace

TEST_F(WindowOpen, FlagsZeroGiveACaptionWithoutSystemMenuAndAFullRecord) {
    const int64_t result = Window_Open(2, 40, 50, 200, 80, nullptr, 0);
    HWND window = HandleOf(2);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(result, reinterpret_cast<int64_t>(window)) << "a number gives the handle";
    EXPECT_EQ(StyleOf(window) & (WS_CAPTION | WS_SYSMENU), WS_CAPTION);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(GetWindowTextLengthW(window), 0) << "a null title is the empty caption";
    EXPECT_EQ(ClassNameOf(window), L"WindowClass_2");
    EXPECT_EQ(GetPropW(window, L"Tavi_WindowID"), reinterpret_cast<HANDLE>(3));
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 200);
    EXPECT_EQ(client.bottom, 80);
    EXPECT_EQ(RectOf(window).left, 40);
    EXPECT_EQ(RectOf(window).top, 50);
    EXPECT_EQ(GetClassLongPtrW(window, GCL_STYLE), CS_DBLCLKS) << "double clicks reach it";
    const WindowRecord* record = RecordOf(2);
    EXPECT_EQ(record->ready, 1);
    EXPECT_EQ(record->accel_count, 2);
    EXPECT_EQ(record->accel_entries[1].fVirt, FVIRTKEY | FNOINVERT | FSHIFT);
    EXPECT_EQ(record->accel_entries[1].cmd, ID_FOCUS_PREVIOUS);
    EXPECT_EQ(CopyAcceleratorTableW(record->accel_table, nullptr, 0), 2);
    EXPECT_EQ(GadgetList_Owner(), window) << "a new window is the current gadget list";

    EXPECT_EQ(StyleOf(Open(3, WINDOW_CENTER_ON_SCREEN)) & (WS_CAPTION | WS_SYSMENU), WS_CAPTION);
    EXPECT_NE(StyleOf(Open(4, WS_POPUP | WS_BORDER)) & WS_CAPTION, WS_CAPTION)
        << "a real style bit is taken as it is";
}

TEST_F(WindowOpen, StartFlagsDecideHowTheWindowIsShown) {
    HWND hidden = Open(1, WS_CAPTION | WINDOW_START_HIDDEN);
    EXPECT_FALSE(IsWindowVisible(hidden));
    EXPECT_EQ(StyleOf(hidden) & WS_VISIBLE, 0);
    EXPECT_TRUE(IsZoomed(Open(2, kSizeable | WINDOW_START_MAXIMIZED)));
    EXPECT_EQ(RecordOf(2)->minmax_state, 1);
    EXPECT_TRUE(IsIconic(Open(3, kSizeable | WINDOW_START_MINIMIZED)));
    EXPECT_EQ(RecordOf(3)->minmax_state, 1);
    // Hidden and shown again, each comes back as it was.
    for (int64_t number : {2, 3}) {
        Window_Hide(number, 1);
        EXPECT_FALSE(IsWindowVisible(HandleOf(number)));
        Window_Hide(number, 0);
    }
    EXPECT_TRUE(IsZoomed(HandleOf(2)));
    EXPECT_TRUE(IsIconic(HandleOf(3)));

    // A tool frame drops the min/max bits and boxes and is shown normally.
    HWND tool = Open(4, WINDOW_TOOL_FRAME | WS_SYSMENU | WS_MAXIMIZE | WS_MAXIMIZEBOX);
    EXPECT_TRUE(GetWindowLongPtrW(tool, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    EXPECT_EQ(StyleOf(tool) & (WS_CAPTION | WS_MAXIMIZEBOX), WS_CAPTION);
    EXPECT_FALSE(IsZoomed(tool));
    EXPECT_EQ(RecordOf(4)->minmax_state, 0);
    MINMAXINFO limits{};
    SendMessageW(tool, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(limits.ptMinTrackSize.x, 1) << "a tool window may be made as narrow as it likes";

    // Shown without activation; the runtime bit (WS_CLIPCHILDREN's) stays out of the style.
    HWND plain = Open(5, WS_CAPTION);
    Window_Hide(5, 1);
    Window_Hide(5, 0);
    EXPECT_EQ(GetActiveWindow(), plain) << "showing again activates";
    Window_SetTopmost(5, 1);
    EXPECT_TRUE(GetWindowLongPtrW(plain, GWL_EXSTYLE) & WS_EX_TOPMOST);
    Window_SetTopmost(5, 0);
    EXPECT_FALSE(GetWindowLongPtrW(plain, GWL_EXSTYLE) & WS_EX_TOPMOST);
    Open(8, WS_CAPTION);
    Window_Close(8);
    for (const int64_t not_open : {int64_t{8}, int64_t{9}, ANY_NUMBER}) {
        Window_SetTopmost(not_open, 1);
        EXPECT_FALSE(GetWindowLongPtrW(plain, GWL_EXSTYLE) & WS_EX_TOPMOST) << not_open;
    }
    ASSERT_TRUE(Activate(plain));
    HWND quiet = Open(6, WS_CAPTION | WINDOW_SHOW_NO_ACTIVATE, 300);
    EXPECT_TRUE(IsWindowVisible(quiet));
    EXPECT_EQ(GetActiveWindow(), HandleOf(5));
    EXPECT_EQ(StyleOf(quiet) & WS_CLIPCHILDREN, 0);
    Open(7, WS_CAPTION | WINDOW_KEEP_GADGET_LIST);
    EXPECT_EQ(GadgetList_Owner(), quiet);
}

TEST_F(WindowOpen, PositionIsSystemChosenCentredOrGiven) {
    const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    // The application's window lands in the middle of the primary screen, not at 100, 100.
    Window_Open(0, 100, 100, 250, 70, L"Kestrevel",
                WS_CAPTION | WS_SYSMENU | WINDOW_CENTER_ON_SCREEN);
    const POINT centre = CentreIn(screen, HandleOf(0));
    EXPECT_EQ(RectOf(HandleOf(0)).left, centre.x);
    EXPECT_EQ(RectOf(HandleOf(0)).top, centre.y);
    HWND big = Open(1, WS_CAPTION | WINDOW_CENTER_ON_SCREEN, 100, 100, screen.right + 50,
                    screen.bottom + 50);
    EXPECT_EQ(RectOf(big).left, 0) << "larger than the screen: the corner goes to 0, 0";
    EXPECT_EQ(RectOf(big).top, 0);

    // x = -65535, or y = -65535 without centring, gives what the system picks for CW_USEDEFAULT.
    HWND probe = CreateWindowExW(0, L"Static", L"", WS_CAPTION, CW_USEDEFAULT, CW_USEDEFAULT, 100,
                                 50, nullptr, nullptr, nullptr, nullptr);
    const RECT system_choice = RectOf(probe);
    DestroyWindow(probe);
    ASSERT_NE(system_choice.top, 333);
    EXPECT_EQ(RectOf(Open(2, WS_CAPTION, WINDOW_SYSTEM_POSITION, 333)).top, system_choice.top);
    EXPECT_EQ(RectOf(Open(3, WS_CAPTION, 333, WINDOW_SYSTEM_POSITION)).left, system_choice.left);
    HWND centred = Open(4, WS_CAPTION | WINDOW_CENTER_ON_SCREEN, 333, WINDOW_SYSTEM_POSITION);
    EXPECT_EQ(RectOf(centred).top, CentreIn(screen, centred).y);

    // A sizeable captioned window moves left by the composition offset (Wine 8 says on).
    EXPECT_EQ(Window_CaptionOffset(), CompositionOffsetOfTheSystem());
    EXPECT_EQ(RectOf(Open(5, WS_CAPTION | WS_THICKFRAME, 100, 120)).left,
              100 - Window_CaptionOffset());
    // Both answers, each asked for once: on, 5 pixels to the left; off, where it was asked for.
    for (const auto& [enabled, query] :
         {std::pair<BOOL, CompositionQuery>{TRUE, CountedCompositionQuery<TRUE>},
          {FALSE, CountedCompositionQuery<FALSE>}}) {
        composition_queries = 0;
        const ScopedSeam stand_in(Window_CompositionQuerySeam(), query);
        EXPECT_EQ(RectOf(Open(6, WS_CAPTION | WS_THICKFRAME, 100, 120)).left, enabled ? 95 : 100);
        EXPECT_EQ(RectOf(Open(7, kSizeable, 100, 120)).left, enabled ? 95 : 100);
        EXPECT_EQ(RectOf(Open(8, WS_CAPTION, 100, 120)).left, 100) << "not sizeable";
        EXPECT_EQ(RectOf(Open(9, WS_POPUP | WS_THICKFRAME, 100, 120)).left, 100) << "no caption";
        EXPECT_EQ(composition_queries, 1) << "desktop composition is asked about once";
    }
    EXPECT_EQ(Window_CaptionOffset(), CompositionOffsetOfTheSystem()) << "the system's again";
}

TEST_F(WindowOpen, CentringOnTheParentOrTheActiveWindow) {
    HWND parent = Open(0, WS_CAPTION, 200, 150, 400, 300);
    HWND child = Open(1, WS_CAPTION | WINDOW_CENTER_ON_PARENT, 0, 0, 101, 51, parent);
    const POINT centre = CentreIn(RectOf(parent), child);
    EXPECT_EQ(RectOf(child).left, centre.x);
    EXPECT_EQ(RectOf(child).top, centre.y);
    EXPECT_EQ(GetWindow(child, GW_OWNER), parent);
    HWND both = Open(2, WS_CAPTION | WINDOW_CENTER_ON_PARENT | WINDOW_CENTER_ON_SCREEN, 0, 0, 101,
                     51, parent);
    const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    EXPECT_EQ(RectOf(both).left, CentreIn(screen, both).x) << "the screen wins";

    // Without a parent the active window is the reference; a negative position becomes 0.
    ASSERT_TRUE(Activate(Open(3, WS_CAPTION, -300, -300, 100, 100)));
    HWND on_active = Open(4, WS_CAPTION | WINDOW_CENTER_ON_PARENT, 500, 500, 400, 400);
    EXPECT_EQ(RectOf(on_active).left, 0);
    EXPECT_EQ(RectOf(on_active).top, 0);

    // Showing again may centre on the owner.
    SetWindowPos(child, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    Window_Hide(1, 1);
    EXPECT_FALSE(IsWindowVisible(child));
    Window_Hide(1, 0, WINDOW_CENTER_ON_PARENT);
    EXPECT_TRUE(IsWindowVisible(child));
    EXPECT_EQ(RectOf(child).left, centre.x);
}

TEST_F(WindowOpen, ReopeningANumberClosesTheOldWindowAndItsGadgets) {
    HWND old_window = Open(3, WS_CAPTION, 10, 10, 200, 100);
    auto old_button = reinterpret_cast<HWND>(Button_Create(7, 5, 5, 80, 24, L"old"));
    ASSERT_NE(old_button, nullptr);
    Event_Post(EVENT_GADGET, 7, 3, 0);
    Event_Post(EVENT_WINDOW_MOVED, 3, 3, 0);
    Event_Post(EVENT_WINDOW_MOVED, 9, 9, 0);

    HWND new_window = Open(3, WS_CAPTION, 20, 20, 210, 110);
    ASSERT_NE(new_window, nullptr);
    EXPECT_NE(new_window, old_window);
    EXPECT_FALSE(IsWindow(old_window));
    EXPECT_FALSE(IsWindow(old_button));
    EXPECT_EQ(Objects_Get(Gadget_Registry(), 7), nullptr);
    EXPECT_TRUE(QueuedOf(EVENT_GADGET).empty());
    EXPECT_EQ(QueuedOf(EVENT_WINDOW_MOVED), (std::vector<Event>{{EVENT_WINDOW_MOVED, 9, 9, 0}}));
    EXPECT_EQ(ClassNameOf(new_window), L"WindowClass_3");

    // Closing unregisters the class, so every opening registers its own.
    Window_Close(3);
    EXPECT_FALSE(IsWindow(new_window));
    EXPECT_FALSE(ClassExists(L"WindowClass_3"));
    EXPECT_EQ(RecordOf(3), nullptr);
}

TEST_F(WindowOpen, AnyNumberWindowsAreNamedByTheirRecord) {
    const int64_t identity = Window_Open(ANY_NUMBER, 10, 10, 150, 60, L"any", WS_CAPTION);
    auto* record = static_cast<WindowRecord*>(Objects_Get(Window_Registry(), identity));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(identity, reinterpret_cast<int64_t>(record)) << "the identity is the record";
    HWND window = record->handle;
    const std::wstring class_name = L"WindowClass_" + std::to_wstring(identity);
    EXPECT_EQ(ClassNameOf(window), class_name);
    int64_t found = 0;
    EXPECT_EQ(Window_RecordOf(window, &found), record);
    EXPECT_EQ(found, identity);

    ClearQueue();
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(Queued(), (std::vector<Event>{{EVENT_CLOSE_WINDOW, identity, identity, 0}}));
    Window_Close(identity);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(ClassExists(class_name));
    EXPECT_EQ(Objects_Get(Window_Registry(), identity), nullptr);
    EXPECT_TRUE(QueuedOf(EVENT_CLOSE_WINDOW).empty());
}

namespace {
int64_t closing_identity = 0;
} // namespace

TEST_F(WindowOpen, ClosingAgainWhileBeingDestroyedFreesNothingTwice) {
    closing_identity = Window_Open(ANY_NUMBER, 10, 10, 100, 50, L"nested", 0);
    auto* record = static_cast<WindowRecord*>(Objects_Get(Window_Registry(), closing_identity));
    ASSERT_NE(record, nullptr);
    // A global callback that closes the window again from inside its destruction.
    Window_State()->global_callback = [](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_DESTROY && closing_identity) {
            const int64_t identity = closing_identity;
            closing_identity = 0;
            Window_Close(identity);
        }
        return USER_DEFAULT;
    };
    const int64_t identity = closing_identity;
    Window_Close(identity);
    Window_State()->global_callback = nullptr;
    EXPECT_EQ(closing_identity, 0) << "the nested close ran";
    EXPECT_EQ(Objects_Get(Window_Registry(), identity), nullptr);
    EXPECT_EQ(Window_Registry()->any_list, nullptr);
    // Reading the freed record or freeing its entries twice shows here, and as heap warnings
    // under WINEDEBUG=warn+heap.
    EXPECT_TRUE(HeapValidate(Runtime_Heap(), 0, nullptr));
    const int64_t other = Window_Open(ANY_NUMBER, 10, 10, 100, 50, L"after", 0);
    auto* fresh = static_cast<WindowRecord*>(Objects_Get(Window_Registry(), other));
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(HeapValidate(Runtime_Heap(), 0, nullptr));
    Window_Close(other);
}
