#include "gui/gui_support.h"
#include "runtime/gui/internal/events.h"
#include "runtime/gui/internal/requester.h"

#include <gtest/gtest.h>

namespace {

HWND MakeWindow(const wchar_t* title, DWORD ex_style, bool visible) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSW window_class{.lpfnWndProc = DefWindowProcW,
                               .hInstance = GetModuleHandleW(nullptr),
                               .lpszClassName = L"RequesterTestWindow"};
        RegisterClassW(&window_class);
        registered = true;
    }
    HWND window =
        CreateWindowExW(ex_style, L"RequesterTestWindow", title, WS_OVERLAPPEDWINDOW, 50, 50, 200,
                        100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (visible) {
        ShowWindow(window, SW_SHOWNORMAL);
    }
    return window;
}

bool IsTopmost(HWND window) {
    return (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

int ListLength() {
    int count = 0;
    for (void* entry = Requester_SuspendedList(); entry; entry = Objects_ListNext(entry)) {
        ++count;
    }
    return count;
}

// What the timer saw while the box was up.
struct Observed {
    bool seen = false;
    HWND box = nullptr;
    HWND box_owner = nullptr;
    bool enabled_plain = false, enabled_disabled = false, enabled_hidden = false,
         topmost_topmost = false, topmost_active = false;
    // The foreground window's entry: -1 without one, else whether the requester disabled it.
    int active_disabled_here = -1;
    int list_length = 0;
    std::wstring text;
};

Observed observed;
HWND active_window, plain_window, disabled_window, hidden_window, topmost_window;
// A button that gets a click while the box is up, or null.
HWND clicked_during_box;

BOOL CALLBACK FindBox(HWND window, LPARAM found) {
    wchar_t class_name[16] = {};
    GetClassNameW(window, class_name, 16);
    if (wcscmp(class_name, L"#32770") == 0 && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK InspectAndClose(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindBox, reinterpret_cast<LPARAM>(&box));
    if (!box) {
        return; // not shown yet: try again on the next tick
    }
    KillTimer(nullptr, timer);
    observed.seen = true;
    observed.box = box;
    observed.box_owner = GetWindow(box, GW_OWNER);
    observed.enabled_plain = IsWindowEnabled(plain_window);
    observed.enabled_disabled = IsWindowEnabled(disabled_window);
    observed.enabled_hidden = IsWindowEnabled(hidden_window);
    observed.topmost_topmost = IsTopmost(topmost_window);
    observed.topmost_active = IsTopmost(active_window);
    for (SuspendedWindow* entry = Requester_SuspendedList(); entry;
         entry = static_cast<SuspendedWindow*>(Objects_ListNext(entry))) {
        observed.active_disabled_here =
            entry->window == active_window ? entry->disabled_here : observed.active_disabled_here;
    }
    observed.list_length = ListLength();
    wchar_t caption[64] = {};
    GetWindowTextW(box, caption, 64);
    observed.text = caption;
    if (clicked_during_box) {
        SendMessageW(clicked_during_box, BM_CLICK, 0, 0);
    }
    EndDialog(box, IDOK);
}

} // namespace

TEST(Requester, SuspendsTheThreadsWindowsAndPutsThemBack) {
    plain_window = MakeWindow(L"plain", 0, true);
    disabled_window = MakeWindow(L"disabled", 0, true);
    EnableWindow(disabled_window, FALSE);
    hidden_window = MakeWindow(L"hidden", 0, false);
    topmost_window = MakeWindow(L"topmost", WS_EX_TOPMOST, true);
    // The foreground window is topmost, as the main window is when the credit box comes.
    active_window = MakeWindow(L"active", WS_EX_TOPMOST, true);
    SetForegroundWindow(active_window);
    ASSERT_EQ(GetForegroundWindow(), active_window) << "the test needs a desktop with focus";
    ASSERT_TRUE(IsTopmost(topmost_window));

    EXPECT_EQ(Requester_PickOwner(), active_window);
    observed = Observed{};
    SetTimer(nullptr, 0, 100, InspectAndClose);
    const int64_t result = Requester_Message(L"Titre", L"Texte é", MB_ICONINFORMATION);

    EXPECT_EQ(result, IDOK);
    ASSERT_TRUE(observed.seen);
    EXPECT_EQ(observed.text, L"Titre");
    EXPECT_EQ(observed.box_owner, active_window) << "the foreground window of this process owns it";
    EXPECT_EQ(observed.active_disabled_here, 0)
        << "the requester leaves the foreground window enabled: the box disables its owner";
    EXPECT_FALSE(observed.topmost_active) << "the topmost foreground window is lowered too";
    EXPECT_FALSE(observed.enabled_plain) << "a visible enabled window is disabled";
    EXPECT_FALSE(observed.enabled_disabled);
    EXPECT_TRUE(observed.enabled_hidden) << "a hidden window is left alone";
    EXPECT_FALSE(observed.topmost_topmost) << "topmost windows are lowered during the box";
    EXPECT_EQ(observed.list_length, 4) << "four visible windows of this thread";

    EXPECT_TRUE(IsWindowEnabled(plain_window)) << "enabled again afterwards";
    EXPECT_FALSE(IsWindowEnabled(disabled_window)) << "an already disabled window stays so";
    EXPECT_TRUE(IsWindowEnabled(hidden_window));
    EXPECT_TRUE(IsWindowEnabled(active_window));
    EXPECT_FALSE(IsWindowVisible(hidden_window));
    EXPECT_TRUE(IsTopmost(topmost_window)) << "topmost again afterwards";
    EXPECT_TRUE(IsTopmost(active_window)) << "the foreground window is topmost again afterwards";
    EXPECT_FALSE(IsTopmost(plain_window));
    EXPECT_EQ(Requester_SuspendedList(), nullptr) << "the list is empty afterwards";

    for (HWND window :
         {plain_window, disabled_window, hidden_window, topmost_window, active_window}) {
        DestroyWindow(window);
    }
}

TEST(Requester, WithoutVisibleWindowsNothingIsSuspended) {
    HWND hidden = MakeWindow(L"alone", 0, false);
    observed = Observed{};
    hidden_window = plain_window = disabled_window = topmost_window = hidden;
    SetTimer(nullptr, 0, 100, InspectAndClose);
    EXPECT_EQ(Requester_Message(L"Info", L"Rien", 0), IDOK);
    ASSERT_TRUE(observed.seen);
    EXPECT_EQ(observed.list_length, 0);
    EXPECT_TRUE(observed.enabled_hidden);
    EXPECT_EQ(Requester_SuspendedList(), nullptr);
    DestroyWindow(hidden);
}

TEST(Requester, AClickWhileTheBoxIsUpIsDroppedWhatCameBeforeStays) {
    // The verdict's case: a hidden window whose button gets a click while the box is up (sent
    // by another program, say). That click is not acted on afterwards; what came before is.
    Window_Open(0, 10, 10, 100, 50, L"verdict", WS_CAPTION | WINDOW_START_HIDDEN);
    clicked_during_box = reinterpret_cast<HWND>(Button_Create(0, 1, 1, 90, 24, L"click"));
    gui_test::ClearQueue();
    Event_Post(EVENT_GADGET, 7, 0, BN_CLICKED);
    observed = Observed{};
    SetTimer(nullptr, 0, 100, InspectAndClose);
    EXPECT_EQ(Requester_Message(L"Info", L"Rien", 0), IDOK);
    ASSERT_TRUE(observed.seen);
    EXPECT_EQ(gui_test::QueuedOf(EVENT_GADGET),
              (std::vector<gui_test::Event>{{EVENT_GADGET, 7, 0, BN_CLICKED}}))
        << "the click during the box is dropped, the event from before stays";
    clicked_during_box = nullptr;
    Window_Close(0);
    gui_test::ClearQueue();
}

TEST(Requester, AnotherThreadsEntriesAreLeftAlone) {
    // An entry recorded by another thread must survive this thread's restoring pass.
    HWND window = MakeWindow(L"mine", 0, true);
    DWORD other_thread_entries = 0;
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* count) -> DWORD {
            HWND own = MakeWindow(L"other", 0, true);
            Requester_CollectWindow(own, 0);
            *static_cast<DWORD*>(count) = 1;
            return 0;
        },
        &other_thread_entries, 0, nullptr);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    ASSERT_EQ(other_thread_entries, 1u);
    ASSERT_EQ(ListLength(), 1);
    Requester_SetModal(1);
    EXPECT_EQ(ListLength(), 2);
    Requester_SetModal(0);
    EXPECT_EQ(ListLength(), 1) << "the other thread's entry stays";
    EXPECT_TRUE(IsWindowEnabled(window));
    DestroyWindow(window);
}
