#include "gui/gui_support.h"
#include "runtime/gui/internal/message_origin.h"
#include "runtime/gui/internal/window_procedure.h"

#include <algorithm>
#include <atomic>
#include <thread>

using namespace gui_test;

namespace {

class WindowMessages : public GuiTest {};

struct Row {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result;
    Event event; // the one event queued, or a zero event for none
};

// Sends every row's message and checks its result and the event it alone queued.
void Check(HWND target, std::initializer_list<Row> rows) {
    for (const Row& row : rows) {
        ClearQueue();
        EXPECT_EQ(SendMessageW(target, row.message, row.wParam, row.lParam), row.result)
            << "message " << row.message;
        const std::vector<Event> queued = Queued();
        EXPECT_EQ(queued.empty() ? Event{} : queued.front(), row.event)
            << "message " << row.message;
        EXPECT_LE(queued.size(), 1u);
    }
}

std::vector<int64_t> SizeCodesQueued() {
    std::vector<int64_t> codes;
    for (const Event& event : Queued()) {
        if (event.code == EVENT_WINDOW_MINIMIZED || event.code == EVENT_WINDOW_MAXIMIZED ||
            event.code == EVENT_WINDOW_RESTORED || event.code == EVENT_WINDOW_RESIZED) {
            codes.push_back(event.code);
        }
    }
    return codes;
}

// Takes the guard away, as a system that refuses the hook leaves it, and puts it back.
class GuardRemoved {
  public:
    GuardRemoved() {
        Event_UnguardPostedMessages();
        EXPECT_FALSE(Event_PostsGuarded());
    }
    ~GuardRemoved() { EXPECT_TRUE(Event_GuardPostedMessages()); }
    GuardRemoved(const GuardRemoved&) = delete;
    GuardRemoved& operator=(const GuardRemoved&) = delete;
};

HWND Child(HWND parent, const wchar_t* class_name, INT_PTR id) {
    return CreateWindowExW(0, class_name, L"", WS_CHILD, 0, 0, 10, 10, parent,
                           reinterpret_cast<HMENU>(id), Runtime_Module(), nullptr);
}

} // namespace

TEST_F(WindowMessages, WindowMessagesBecomeTheirEvents) {
    Window_Open(5, 100, 100, 200, 100, L"messages", WS_CAPTION | WS_SYSMENU);
    HWND window = HandleOf(5);
    // A control of this thread that is no gadget posts nothing, even with the identifier that
    // once stood for a menu control.
    HWND menu_like = Child(window, L"Static", -10000);
    const auto from = [](HWND control) { return reinterpret_cast<LPARAM>(control); };
    Check(window, {{WM_CLOSE, 0, 0, 0, {EVENT_CLOSE_WINDOW, 5, 5, 0}},
                   {WM_ACTIVATE, WA_INACTIVE, 0, 1, {EVENT_WINDOW_DEACTIVATED, 0, 5, 0}},
                   {WM_ACTIVATE, WA_CLICKACTIVE, 0, 1, {EVENT_WINDOW_ACTIVATED, 0, 5, 0}},
                   {WM_LBUTTONUP, 0, 0, 0, {EVENT_LEFT_BUTTON_UP, 0, 5, 0}},
                   {WM_LBUTTONDBLCLK, 0, 0, 0, {EVENT_LEFT_DOUBLE_CLICK, 0, 5, 0}},
                   {WM_RBUTTONUP, 0, 0, 0, {EVENT_RIGHT_BUTTON_UP, 0, 5, 0}},
                   {WM_TIMER, 42, 0, 0, {EVENT_TIMER_TICK, 42, 5, 0}},
                   {kTrayCallbackMessage, 9, WM_RBUTTONDBLCLK, 0, {EVENT_TRAY_NOTIFY, 9, 5, 3}},
                   {kTrayCallbackMessage, 9, WM_LBUTTONDOWN, 0, {EVENT_TRAY_NOTIFY, 9, 5, 0}},
                   {kTrayCallbackMessage, 9, WM_MOUSEMOVE, 0, {}},
                   {WM_COMMAND, 0x0123, 0, 0, {EVENT_COMMAND, 0x0123, 5, 0}},
                   {WM_COMMAND, MAKEWPARAM(500, 1), 0, 0, {EVENT_COMMAND, 500, 5, 0}},
                   {WM_COMMAND, MAKEWPARAM(0xD8F0, 0), from(menu_like), 0, {}}});
    EXPECT_TRUE(IsWindow(window)) << "closing is the application's decision";
    MSG wake{};
    EXPECT_TRUE(PeekMessageW(&wake, window, WM_NULL, WM_NULL, PM_REMOVE)) << "tray wakes the loop";

    // Erasing is posted and left to the default procedure, which erases; repeats merge.
    HDC device = GetDC(window);
    const auto erase = reinterpret_cast<WPARAM>(device);
    ClearQueue();
    EXPECT_NE(SendMessageW(window, WM_ERASEBKGND, erase, 0), 0);
    SendMessageW(window, WM_ERASEBKGND, erase, 0);
    ReleaseDC(window, device);
    EXPECT_EQ(Queued(), (std::vector<Event>{{EVENT_ERASE_BACKGROUND, 0, 5, 0}}));

    // Non-zero bounds of the record reach the tracking sizes; zero ones leave them alone.
    RecordOf(5)->min_width = 300;
    MINMAXINFO limits{.ptMinTrackSize = {0, 17}};
    EXPECT_EQ(SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits)), 0);
    EXPECT_EQ(limits.ptMinTrackSize.x, 300);
    EXPECT_EQ(limits.ptMinTrackSize.y, 17);
    RecordOf(5)->min_width = 0;

    // A real move.
    ClearQueue();
    SetWindowPos(window, nullptr, 130, 140, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(QueuedOf(EVENT_WINDOW_MOVED), (std::vector<Event>{{EVENT_WINDOW_MOVED, 5, 5, 0}}));

    // A pending resize of the window gives way to the newest one.
    ClearQueue();
    SendMessageW(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(10, 10));
    Event_Post(EVENT_COMMAND, 1, 5, 0);
    SendMessageW(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(20, 20));
    SendMessageW(window, WM_SIZE, SIZE_MAXSHOW, MAKELPARAM(30, 30));
    EXPECT_EQ(Queued(),
              (std::vector<Event>{{EVENT_COMMAND, 1, 5, 0}, {EVENT_WINDOW_RESIZED, 0, 5, 0}}));
}

TEST_F(WindowMessages, MessagesFromElsewhereNameNothingOfOurs) {
    Window_Open(5, 100, 100, 200, 100, L"target", WS_CAPTION | WS_SYSMENU);
    Window_Open(6, 300, 100, 200, 100, L"other", WS_CAPTION);
    HWND window = HandleOf(5);
    HWND elsewhere = Child(HandleOf(6), L"Static", 321);
    // A made-up control, or a control of another window, does not pass for a gadget's click.
    Check(window,
          {{WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), 0x1234, 0, {}},
           {WM_COMMAND, MAKEWPARAM(321, BN_CLICKED), reinterpret_cast<LPARAM>(elsewhere), 0, {}}});

    // Notifications that no control of ours sent, posted or sent from another thread, carry an
    // address that nothing may read through.
    ClearQueue();
    ASSERT_TRUE(PostMessageW(window, WM_NOTIFY, 0, 0x10));
    HWND own = Child(window, L"Static", 321);
    ASSERT_TRUE(PostMessageW(window, WM_COMMAND, MAKEWPARAM(321, BN_CLICKED),
                             reinterpret_cast<LPARAM>(own))); // controls never post
    std::atomic<bool> sent{false};
    std::thread sender([&sent, window] {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(window, WM_NOTIFY, 0, 0x10, SMTO_NORMAL, 5000, &result);
        sent = true;
    });
    while (!sent) {
        PumpMessages(20);
    }
    sender.join();

    // A child of our window that another thread made (as a window of another program made our
    // child would be) is no control of ours either.
    std::atomic<bool> clicked{false};
    std::thread stranger([&clicked, window] {
        HWND child = Child(window, L"Button", 321);
        SendMessageTimeoutW(window, WM_COMMAND, MAKEWPARAM(321, BN_CLICKED),
                            reinterpret_cast<LPARAM>(child), SMTO_NORMAL, 5000, nullptr);
        DestroyWindow(child);
        clicked = true;
    });
    while (!clicked) {
        PumpMessages(20);
    }
    stranger.join();
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(Queued().empty());
}

TEST_F(WindowMessages, NoMessagePassesForAnEvent) {
    Window_Open(5, 100, 100, 200, 100, L"target", WS_CAPTION | WS_SYSMENU);
    HWND window = HandleOf(5);
    // The last event was a click on gadget 0: a message numbered like an event must not make the
    // loop read that object again.
    ClearQueue();
    Event_Post(EVENT_GADGET, 0, 5, 0);
    ASSERT_EQ(Event_Wait(0), EVENT_GADGET);
    const auto forge_and_wait = [window] {
        for (UINT code = EVENT_FIRST; code <= EVENT_LAST; ++code) {
            PostMessageW(window, code, 0, 0);
            PostThreadMessageW(GetCurrentThreadId(), code, code, 0);
        }
        std::vector<int64_t> seen;
        WaitForCode(-1, 300, &seen); // every code that comes, for a while
        return seen;
    };
    const auto is_event = [](int64_t code) { return code >= EVENT_FIRST && code <= EVENT_LAST; };
    std::vector<int64_t> seen = forge_and_wait();
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(), is_event), 0);
    EXPECT_TRUE(Queued().empty());

    // Without the guard (the system may refuse the hook), the loop drops them itself, and no
    // address in a notification is read, not even in a loop the runtime does not run.
    {
        GuardRemoved unguarded;
        seen = forge_and_wait();
        EXPECT_EQ(std::count_if(seen.begin(), seen.end(), is_event), 0);
        ASSERT_TRUE(PostMessageW(window, WM_NOTIFY, 0, 0x10));
        PumpMessages(50);
        SendMessageW(window, WM_NOTIFY, 0, 0x10);
    }
    EXPECT_TRUE(Queued().empty());
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(WindowMessages, OnlyThisThreadMakesOrEndsAWindowsLife) {
    Window_Open(5, 100, 100, 200, 100, L"target", WS_CAPTION | WS_SYSMENU);
    HWND window = HandleOf(5);
    HWND button = reinterpret_cast<HWND>(Button_Create(7, 5, 5, 80, 24, L"b"));
    HWND post_window = Event_PostWindow();
    const auto list_proc = GetWindowLongPtrW(window, GWLP_WNDPROC);
    constexpr UINT kLife[] = {WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY};
    // Another thread sends them, with an address that nothing may read; anyone posts them, and
    // closes a button or the post-event window, which only the runtime ends.
    std::atomic<bool> sent{false};
    std::thread sender([&] {
        for (HWND target : {window, button, post_window}) {
            for (UINT message : kLife) {
                SendMessageTimeoutW(target, message, 0, 0x10, SMTO_NORMAL, 5000, nullptr);
            }
        }
        for (HWND target : {button, post_window}) {
            SendMessageTimeoutW(target, WM_CLOSE, 0, 0, SMTO_NORMAL, 5000, nullptr);
        }
        sent = true;
    });
    while (!sent) {
        PumpMessages(20);
    }
    sender.join();
    for (HWND target : {window, button, post_window}) {
        for (UINT message : kLife) {
            PostMessageW(target, message, 0, 0x10);
        }
    }
    PostMessageW(button, WM_CLOSE, 0, 0);
    PostMessageW(post_window, WM_CLOSE, 0, 0);
    PumpMessages(100);

    ASSERT_TRUE(IsWindow(button));
    EXPECT_TRUE(IsWindow(post_window));
    EXPECT_EQ(GadgetList_Owner(), window);
    EXPECT_NE(GetPropW(window, GadgetList_PropertyName()), nullptr) << "the snapshot stays";
    EXPECT_EQ(GetWindowLongPtrW(window, GWLP_WNDPROC), list_proc) << "the subclass stays";
    const auto* record = static_cast<GadgetRecord*>(Objects_Get(Gadget_Registry(), 7));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->control, button);
    // A click still becomes the gadget's event.
    ClearQueue();
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(7, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    EXPECT_EQ(Queued(), (std::vector<Event>{{EVENT_GADGET, 7, 5, BN_CLICKED}}));

    // Without the guard (the system may refuse the hook), a posted one that a loop the runtime
    // does not run dispatches changes nothing either.
    {
        GuardRemoved unguarded;
        for (HWND target : {window, button}) {
            PostMessageW(target, WM_NCDESTROY, 0, 0);
        }
        PumpMessages(50);
    }
    EXPECT_NE(GetPropW(window, GadgetList_PropertyName()), nullptr);
    EXPECT_NE(Objects_Get(Gadget_Registry(), 7), nullptr);

    // The runtime's own ending and making of windows counts, also while the thread handles a
    // message sent from another thread (when all it sends itself looks as if sent from there).
    Window_State()->global_callback = [](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_APP) {
            Gadget_Free(7);
            Window_Open(9, 100, 300, 100, 50, L"made", WS_CAPTION);
        }
        return USER_DEFAULT;
    };
    std::atomic<bool> done{false};
    std::thread asker([&done, window] {
        SendMessageTimeoutW(window, WM_APP, 0, 0, SMTO_NORMAL, 5000, nullptr);
        done = true;
    });
    while (!done) {
        PumpMessages(20);
    }
    asker.join();
    Window_State()->global_callback = nullptr;
    EXPECT_FALSE(IsWindow(button));
    EXPECT_EQ(Objects_Get(Gadget_Registry(), 7), nullptr) << "the ended gadget's record went";
    EXPECT_NE(HandleOf(9), nullptr) << "the window was made";
}

TEST_F(WindowMessages, TargetsAreMatchedToTheirOwningWindow) {
    Window_Open(6, 100, 100, 200, 100, L"owner", WS_CAPTION);
    // A child of the runtime's class belongs to window 6, but only window 6 itself closes,
    // moves or resizes.
    HWND child = Child(HandleOf(6), L"WindowClass_6", 0);
    ASSERT_NE(child, nullptr);
    Check(child, {{WM_LBUTTONUP, 0, 0, 0, {EVENT_LEFT_BUTTON_UP, 0, 6, 0}},
                  {WM_CLOSE, 0, 0, 0, {}},
                  {WM_SIZE, SIZE_RESTORED, 0, 1, {}},
                  {WM_MOVE, 0, 0, 0, {}},
                  {WM_TIMER, 8, 0, 0, {EVENT_TIMER_TICK, 8, 6, 0}}});

    // A window of no runtime window: events carry window -1; rows needing a record do nothing,
    // and WM_CLOSE never reaches the default procedure.
    HWND stray = CreateWindowExW(0, L"WindowClass_6", L"stray", WS_CAPTION, 0, 0, 50, 50, nullptr,
                                 nullptr, Runtime_Module(), nullptr);
    Check(stray, {{WM_RBUTTONUP, 0, 0, 0, {EVENT_RIGHT_BUTTON_UP, 0, -1, 0}},
                  {WM_TIMER, 8, 0, 0, {}},
                  {WM_CLOSE, 0, 0, 0, {}}});
    EXPECT_TRUE(IsWindow(stray));
    DestroyWindow(stray);
}

TEST_F(WindowMessages, MinimiseMaximiseAndRestoreGiveTheirSequences) {
    Window_Open(2, 100, 100, 200, 100, L"sizes",
                WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX |
                    WINDOW_START_MAXIMIZED);
    EXPECT_TRUE(SizeCodesQueued().empty()) << "none while the window is being opened";
    EXPECT_TRUE(QueuedOf(EVENT_WINDOW_MOVED).empty());
    HWND window = HandleOf(2);
    ShowWindow(window, SW_RESTORE);
    const struct {
        int command;
        std::vector<int64_t> codes;
        int32_t minmax_state;
    } steps[] = {
        {SW_MINIMIZE, {EVENT_WINDOW_MINIMIZED}, 1},
        {SW_RESTORE, {EVENT_WINDOW_RESTORED, EVENT_WINDOW_RESIZED}, 0},
        {SW_MAXIMIZE, {EVENT_WINDOW_MAXIMIZED, EVENT_WINDOW_RESIZED}, 1},
        {SW_RESTORE, {EVENT_WINDOW_RESTORED, EVENT_WINDOW_RESIZED}, 0},
    };
    for (const auto& step : steps) {
        ClearQueue();
        ShowWindow(window, step.command);
        PumpMessages(30);
        EXPECT_EQ(SizeCodesQueued(), step.codes) << "show command " << step.command;
        EXPECT_EQ(RecordOf(2)->minmax_state, step.minmax_state);
    }
    ClearQueue();
    SetWindowPos(window, nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(SizeCodesQueued(), (std::vector<int64_t>{EVENT_WINDOW_RESIZED})) << "no restore";
}

TEST_F(WindowMessages, ClosingAWindowDropsExactlyItsEvents) {
    Window_Open(1, 10, 10, 200, 100, L"one", WS_CAPTION);
    Button_Create(10, 5, 5, 80, 24, L"a");
    Button_Create(11, 5, 35, 80, 24, L"b");
    Window_Open(2, 300, 10, 200, 100, L"two", WS_CAPTION);
    Button_Create(12, 5, 5, 80, 24, L"c");
    ClearQueue();
    const std::vector<Event> posted{{EVENT_GADGET, 10, 1, 0},    {EVENT_GADGET, 12, 2, 0},
                                    {EVENT_TIMER_TICK, 1, 1, 0}, {EVENT_COMMAND, 1, -1, 0},
                                    {EVENT_GADGET, 11, 1, 0},    {EVENT_TIMER_TICK, 1, 2, 0}};
    for (const Event& event : posted) {
        Event_Post(static_cast<int32_t>(event.code), event.object, event.window, event.type);
    }
    Window_Close(1);
    std::vector<Event> remaining = Queued();
    // Closing moves the activation, which posts events of its own.
    std::erase_if(remaining, [&](const Event& event) {
        return std::find(posted.begin(), posted.end(), event) == posted.end();
    });
    EXPECT_EQ(remaining, (std::vector<Event>{{EVENT_GADGET, 12, 2, 0},
                                             {EVENT_COMMAND, 1, -1, 0},
                                             {EVENT_TIMER_TICK, 1, 2, 0}}));
    EXPECT_EQ(Objects_Get(Gadget_Registry(), 10), nullptr);
    EXPECT_EQ(Objects_Get(Gadget_Registry(), 11), nullptr);
    EXPECT_NE(Objects_Get(Gadget_Registry(), 12), nullptr);
}

TEST_F(WindowMessages, AltF4GivesTheCloseEventAndTheWindowStays) {
    Window_Open(0, 100, 100, 250, 70, L"Kestrevel",
                WS_CAPTION | WS_SYSMENU | WINDOW_CENTER_ON_SCREEN);
    ASSERT_TRUE(Activate(HandleOf(0)));
    ClearQueue();
    INPUT keys[4]{};
    const WORD codes[4] = {VK_MENU, VK_F4, VK_F4, VK_MENU};
    for (int index = 0; index < 4; ++index) {
        keys[index] = {.type = INPUT_KEYBOARD};
        keys[index].ki = {.wVk = codes[index], .dwFlags = index >= 2 ? KEYEVENTF_KEYUP : 0u};
    }
    SendInput(4, keys, sizeof(INPUT));
    ASSERT_TRUE(WaitForCode(EVENT_CLOSE_WINDOW, 3000));
    EXPECT_EQ(Event_Gadget(), 0);
    EXPECT_TRUE(IsWindowVisible(HandleOf(0)));
}
