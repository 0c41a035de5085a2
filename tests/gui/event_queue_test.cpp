#include "gui/gui_support.h"

#include <atomic>
#include <thread>

using namespace gui_test;

namespace {

class EventQueueTest : public GuiTest {};

// Ends the message box of this thread once the flood is over (timer messages come only when
// nothing else waits), noting how many events were queued by then.
std::atomic<bool> flood_over{false};
int32_t queued_at_the_end = -1;
void CALLBACK CloseBoxAfterTheFlood(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND box = FindWindowW(L"#32770", L"Info");
    if (!flood_over || !box || GetWindowThreadProcessId(box, nullptr) != GetCurrentThreadId()) {
        return;
    }
    KillTimer(nullptr, timer);
    queued_at_the_end = Event_Queue()->length;
    EndDialog(box, IDOK);
}

std::vector<intptr_t> released;
void RecordRelease(intptr_t data) {
    released.push_back(data);
}

} // namespace

TEST_F(EventQueueTest, IdenticalNeighboursMergeOthersDoNot) {
    Event_Post(EVENT_ERASE_BACKGROUND, 0, 4, 0);
    Event_Post(EVENT_ERASE_BACKGROUND, 0, 4, 0); // merged
    Event_Post(EVENT_TIMER_TICK, 1, 4, 0);
    Event_Post(EVENT_ERASE_BACKGROUND, 0, 4, 0); // another event between: kept
    Event_Post(EVENT_ERASE_BACKGROUND, 1, 4, 0); // any differing field keeps them apart
    Event_Post(EVENT_ERASE_BACKGROUND, 1, 5, 0);
    Event_Post(EVENT_ERASE_BACKGROUND, 1, 5, 2);
    Event_Post(65535, 0, 0, 0);
    Event_Post(65535, 0, 0, 0); // merged: below 65536
    Event_Post(65536, 0, 0, 0);
    Event_Post(65536, 0, 0, 0); // from 65536 on never merged
    Event_Post(-7, 0, 0, 0);
    Event_Post(-7, 0, 0, 0); // the comparison is signed
    Event_Post(EVENT_COMMAND, 3, 0, 0, 0, nullptr, POST_DEFER_CALLBACKS);
    Event_Post(EVENT_COMMAND, 3, 0, 0, 0, nullptr, POST_DEFER_CALLBACKS); // deferred: kept
    const std::vector<Event> expected{{EVENT_ERASE_BACKGROUND, 0, 4, 0},
                                      {EVENT_TIMER_TICK, 1, 4, 0},
                                      {EVENT_ERASE_BACKGROUND, 0, 4, 0},
                                      {EVENT_ERASE_BACKGROUND, 1, 4, 0},
                                      {EVENT_ERASE_BACKGROUND, 1, 5, 0},
                                      {EVENT_ERASE_BACKGROUND, 1, 5, 2},
                                      {65535, 0, 0, 0},
                                      {65536, 0, 0, 0},
                                      {65536, 0, 0, 0},
                                      {-7, 0, 0, 0},
                                      {EVENT_COMMAND, 3, 0, 0},
                                      {EVENT_COMMAND, 3, 0, 0}};
    EXPECT_EQ(DequeueAll(), expected) << "handed out in arrival order";
    EXPECT_EQ(Event_Queue()->tail, nullptr);
}

TEST_F(EventQueueTest, DiscardKeepsTheOrderAndTheTail) {
    Event_Post(EVENT_GADGET, 1, 2, 0);
    Event_Post(EVENT_GADGET, 2, 2, 0);
    Event_Post(EVENT_GADGET, 1, 3, 5);
    Event_Post(EVENT_TIMER_TICK, 1, 2, 0);
    Event_Post(EVENT_GADGET, 1, 2, 0);
    Event_Discard(EVENT_GADGET, 1, -1, -1);
    EXPECT_EQ(Queued(), (std::vector<Event>{{EVENT_GADGET, 2, 2, 0}, {EVENT_TIMER_TICK, 1, 2, 0}}));
    // The tail is the last kept node: an equal post merges with it.
    Event_Post(EVENT_TIMER_TICK, 1, 2, 0);
    EXPECT_EQ(Queued().size(), 2u);
    Event_Discard(-1, -1, 2, -1);
    EXPECT_EQ(Event_Queue()->tail, nullptr);
    Event_Post(EVENT_COMMAND, 0, 0, 0);
    EXPECT_EQ(Event_Queue()->head, Event_Queue()->tail);

    // Event_DiscardWindow has no wildcard.
    ClearQueue();
    Event_Post(EVENT_GADGET, 1, -1, 0);
    Event_Post(EVENT_GADGET, 1, 6, 0);
    Event_Post(EVENT_GADGET, 2, 7, 0);
    Event_Post(EVENT_GADGET, 3, 6, 0);
    Event_DiscardWindow(6);
    EXPECT_EQ(Queued(), (std::vector<Event>{{EVENT_GADGET, 1, -1, 0}, {EVENT_GADGET, 2, 7, 0}}));
    Event_DiscardWindow(-1);
    EXPECT_EQ(Queued(), (std::vector<Event>{{EVENT_GADGET, 2, 7, 0}}));
}

TEST_F(EventQueueTest, EventDataIsReleasedOnceAndNeverLost) {
    released.clear();
    Event_Post(EVENT_GADGET, 11, 1, 0, 0xA1, RecordRelease);
    Event_Post(EVENT_GADGET, 11, 1, 0, 0xA2, RecordRelease); // merged: its data goes
    Event_Post(EVENT_GADGET, 11, 1, 0, 0xA1, RecordRelease); // the queued data: kept
    EXPECT_EQ(released, (std::vector<intptr_t>{0xA2}));
    Event_Post(EVENT_TIMER_TICK, 5, 1, 0, 0xB1, RecordRelease);
    Event_Post(EVENT_COMMAND, 6, 1, 0, 0xC1, RecordRelease);

    EXPECT_EQ(Event_Wait(0), EVENT_GADGET);
    EXPECT_EQ(Event_Queue()->current_data, 0xA1);
    EXPECT_EQ(released.size(), 1u) << "the current event's data lives on";
    Event_Discard(EVENT_TIMER_TICK, -1, -1, -1);
    EXPECT_EQ(released, (std::vector<intptr_t>{0xA2, 0xB1}));
    EXPECT_EQ(Event_Dequeue(), EVENT_COMMAND);
    EXPECT_EQ(released, (std::vector<intptr_t>{0xA2, 0xB1, 0xA1}));
    EXPECT_EQ(Event_Dequeue(), 0);
    EXPECT_EQ(released.back(), 0xC1);
    EXPECT_EQ(Event_Queue()->current_data, 0);
}

TEST_F(EventQueueTest, AQueuedEventComesBeforeAWaitingMessage) {
    EXPECT_EQ(InitialAccessorValues().gadget, 0) << "before the first Event_Wait";
    EXPECT_EQ(InitialAccessorValues().type, 0);
    constexpr UINT kProbe = WM_APP + 17;
    ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), kProbe, 0x1234, 0x5678));
    Event_Post(EVENT_COMMAND, 77, 2, 0);
    EXPECT_EQ(Event_Wait(0), EVENT_COMMAND);
    EXPECT_EQ(Event_Gadget(), 77);
    EXPECT_EQ(Window_State()->last_wparam, 0u);
    MSG waiting{};
    EXPECT_TRUE(PeekMessageW(&waiting, nullptr, kProbe, kProbe, PM_NOREMOVE))
        << "the message queue is not touched while events are queued";

    ASSERT_TRUE(WaitForCode(kProbe, 2000));
    EXPECT_EQ(Event_Type(), -1) << "after a Windows message";
    EXPECT_EQ(Event_Gadget(), 77) << "the last runtime event's object";
    EXPECT_EQ(Window_State()->last_wparam, 0x1234u);
    EXPECT_EQ(Window_State()->last_lparam, 0x5678);
}

TEST_F(EventQueueTest, TimedWaitsReturnZeroWhenNothingComes) {
    PumpMessages(30);
    // A stray system message may end a wait early; the first quiet call counts.
    bool quick_zero = false;
    for (int attempt = 0; attempt < 5 && !quick_zero; ++attempt) {
        const ULONGLONG start = GetTickCount64();
        quick_zero = Event_Wait(0) == 0 && GetTickCount64() - start < 50;
    }
    EXPECT_TRUE(quick_zero) << "Event_Wait(0) returns 0 at once";
    bool timed_zero = false;
    ULONGLONG waited = 0;
    for (int attempt = 0; attempt < 3 && !timed_zero; ++attempt) {
        const ULONGLONG start = GetTickCount64();
        timed_zero = Event_Wait(250) == 0;
        waited = GetTickCount64() - start;
    }
    ASSERT_TRUE(timed_zero);
    EXPECT_GE(waited, 230u);
    EXPECT_LT(waited, 1000u);
}

TEST_F(EventQueueTest, OtherThreadsDeliverThroughThePostEventWindow) {
    EXPECT_EQ(ClassNameOf(Event_PostWindow()), L"PostEventClass");
    EXPECT_EQ(GetClassLongPtrW(Event_PostWindow(), GCL_STYLE), CS_DBLCLKS);
    EXPECT_FALSE(IsWindowVisible(Event_PostWindow()));
    EXPECT_EQ(Event_PostMessageId(), RegisterWindowMessageW(L"Tavi_PostEventMessage"));

    // The queue is closed for ordinary posts, but the post-event window posts always.
    Event_Queue()->closed = 1;
    Event_Post(EVENT_COMMAND, 1, 1, 0);
    EXPECT_TRUE(Queued().empty());
    HANDLE sender = CreateThread(
        nullptr, 0,
        [](void*) -> DWORD {
            return Event_PostFromThread(EVENT_GADGET, 0x123456789, 4, 2, 99) ? 0 : 1;
        },
        nullptr, 0, nullptr);
    ASSERT_NE(sender, nullptr);
    WaitForSingleObject(sender, 5000);
    DWORD sent = 1;
    GetExitCodeThread(sender, &sent);
    CloseHandle(sender);
    EXPECT_EQ(sent, 0u);
    EXPECT_TRUE(WaitForCode(EVENT_GADGET, 2000));
    Event_Queue()->closed = 0;
    EXPECT_EQ(Event_Gadget(), 0x123456789);
    EXPECT_EQ(Event_Type(), 2);
    EXPECT_EQ(Event_Queue()->current_window, 4);
    EXPECT_EQ(Event_Queue()->current_data, 99);

    // A block address that was never handed out is ignored, neither read nor freed.
    PostedEvent forged{.code = EVENT_CLOSE_WINDOW, .object = 1, .window = 1};
    PostMessageW(Event_PostWindow(), Event_PostMessageId(), 0, reinterpret_cast<LPARAM>(&forged));
    PostMessageW(Event_PostWindow(), Event_PostMessageId(), 0, 0x12345678);
    PumpMessages(50);
    EXPECT_TRUE(Queued().empty());
}

TEST_F(EventQueueTest, AFloodWhileAMessageBoxIsUpStaysWithinTheBound) {
    Window_Open(3, 100, 100, 200, 100, L"flooded", WS_CAPTION);
    HWND window = HandleOf(3);
    HWND button = reinterpret_cast<HWND>(Button_Create(4, 5, 5, 80, 24, L"b"));
    // Another program posts timer messages of 100,000 ids while a verdict is up; the box's own
    // loop dispatches them, and nothing takes events out of the queue meanwhile.
    constexpr UINT_PTR kFlood = 100000;
    flood_over = false;
    std::thread flood([window] {
        for (UINT_PTR id = 1; id <= kFlood; ++id) {
            while (!PostMessageW(window, WM_TIMER, id, 0)) {
                Sleep(1); // the system's own queue has a limit too
            }
        }
        flood_over = true;
    });
    SetTimer(nullptr, 0, 50, CloseBoxAfterTheFlood);
    EXPECT_EQ(Requester_Message(L"Info", L"flood", 0), IDOK);
    flood.join();
    PumpMessages(50);
    EXPECT_EQ(queued_at_the_end, EVENT_QUEUE_LIMIT) << "the bound was reached and held";
    EXPECT_EQ(Event_Queue()->length, EVENT_QUEUE_LIMIT);
    // The user's close still gets in, in the place of the oldest event; a second one merges.
    std::vector<Event> queued = Queued();
    SendMessageW(window, WM_CLOSE, 0, 0);
    SendMessageW(window, WM_CLOSE, 0, 0);
    queued.erase(queued.begin());
    queued.push_back({EVENT_CLOSE_WINDOW, 3, 3, 0});
    ASSERT_EQ(Queued(), queued) << "a close at the bound";
    // The oldest are kept (after the activation events of the box), the newest dropped.
    std::vector<int64_t> ticks;
    for (const Event& event : DequeueAll()) {
        if (event.code == EVENT_TIMER_TICK) {
            ticks.push_back(event.object);
        }
    }
    ASSERT_GT(ticks.size(), static_cast<size_t>(EVENT_QUEUE_LIMIT - 16));
    EXPECT_EQ(ticks.front(), 1);
    EXPECT_EQ(ticks.back(), static_cast<int64_t>(ticks.size()));
    // Afterwards everything works as before.
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(4, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    EXPECT_EQ(Event_Wait(0), EVENT_GADGET);
    EXPECT_EQ(Event_Gadget(), 4);
    EXPECT_EQ(Event_Queue()->length, 0);
}
