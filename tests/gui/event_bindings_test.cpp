// Nothing in the program binds callbacks; these tests bind through the internal Event_Bind to
// prove that the lookups of every post find the right keys and that unbinding cleans up.
#include "gui/gui_support.h"

using namespace gui_test;

namespace {

struct Call {
    char callback;
    Event current; // the current event as the callback saw it
    bool operator==(const Call&) const = default;
};
std::vector<Call> calls;

template <char Name> void Callback() {
    calls.push_back({Name,
                     {Event_Queue()->current_code, Event_Gadget(), Event_Queue()->current_window,
                      Event_Type()}});
}

int closing_calls = 0;
void CloseWindowThree() {
    ++closing_calls;
    Window_Close(3);
}

class EventBindings : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        calls.clear();
    }
    void TearDown() override {
        for (int64_t window : {-1, 3, 7, 8}) {
            Event_UnbindWindow(window);
        }
        GuiTest::TearDown();
    }
};

} // namespace

TEST_F(EventBindings, APostRunsItsFiveKeysInOrderWithTheEventAsCurrent) {
    ASSERT_TRUE(Event_Bind(EVENT_GADGET, -1, 5, 0, Callback<'e'>));   // key 5
    ASSERT_TRUE(Event_Bind(EVENT_GADGET, -1, -1, -1, Callback<'d'>)); // key 4
    ASSERT_TRUE(Event_Bind(EVENT_GADGET, 3, -1, -1, Callback<'c'>));  // key 3
    ASSERT_TRUE(Event_Bind(EVENT_GADGET, 3, 5, -1, Callback<'b'>));   // key 2
    ASSERT_TRUE(Event_Bind(EVENT_GADGET, 3, 5, 0, Callback<'a'>));    // key 1
    Event_Post(EVENT_COMMAND, 1, 1, 1);
    Event_Dequeue(); // the current event around the next post
    const Event during{EVENT_GADGET, 5, 3, 0};
    Event_Post(EVENT_GADGET, 5, 3, 0);
    EXPECT_EQ(calls,
              (std::vector<Call>{
                  {'a', during}, {'b', during}, {'c', during}, {'d', during}, {'e', during}}));
    EXPECT_EQ(Event_Gadget(), 1) << "the current event is put back after the callbacks";
    EXPECT_EQ(Event_Type(), 1);

    calls.clear();
    Event_Post(EVENT_GADGET, 5, 3, 0);
    EXPECT_EQ(calls.size(), 5u) << "a merged post runs them too";
    calls.clear();
    Event_Post(EVENT_GADGET, 0x100000005LL, 8, 0);
    EXPECT_EQ(calls, (std::vector<Call>{{'d', {EVENT_GADGET, 0x100000005LL, 8, 0}}}))
        << "identities above 32 bits are keyed whole";

    // A deferred post runs them when it is dequeued, and only then.
    calls.clear();
    ClearQueue();
    Event_Post(EVENT_GADGET, 6, 3, 0, 0, nullptr, POST_DEFER_CALLBACKS);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(Event_Wait(0), EVENT_GADGET);
    EXPECT_EQ(calls,
              (std::vector<Call>{{'c', {EVENT_GADGET, 6, 3, 0}}, {'d', {EVENT_GADGET, 6, 3, 0}}}));
}

TEST_F(EventBindings, UnbindingAWindowDropsExactlyItsBindings) {
    ASSERT_TRUE(Event_Bind(EVENT_CLOSE_WINDOW, 7, -1, -1, Callback<'a'>));
    ASSERT_TRUE(Event_Bind(EVENT_CLOSE_WINDOW, 8, -1, -1, Callback<'b'>));
    ASSERT_TRUE(Event_Bind(EVENT_CLOSE_WINDOW, -1, -1, -1, Callback<'c'>));
    Event_UnbindWindow(7);
    Event_Post(EVENT_CLOSE_WINDOW, 7, 7, 0);
    Event_Post(EVENT_CLOSE_WINDOW, 8, 8, 0);
    EXPECT_EQ(calls, (std::vector<Call>{{'c', {EVENT_CLOSE_WINDOW, 7, 7, 0}},
                                        {'b', {EVENT_CLOSE_WINDOW, 8, 8, 0}},
                                        {'c', {EVENT_CLOSE_WINDOW, 8, 8, 0}}}));
    // Closing a window unbinds it too.
    Window_Open(8, 10, 10, 100, 40, L"bound", WS_CAPTION);
    Window_Close(8);
    calls.clear();
    Event_Post(EVENT_CLOSE_WINDOW, 8, 8, 0);
    EXPECT_EQ(calls, (std::vector<Call>{{'c', {EVENT_CLOSE_WINDOW, 8, 8, 0}}}));
}

TEST_F(EventBindings, ACallbackMayCloseTheWindowItIsBoundTo) {
    // The window's bindings are unbound while their own callbacks run: the entries must
    // outlive the walk and be freed after it.
    closing_calls = 0;
    Window_Open(3, 10, 10, 100, 40, L"self-closing", WS_CAPTION);
    ASSERT_TRUE(Event_Bind(EVENT_COMMAND, 3, 1, 0, CloseWindowThree));
    ASSERT_TRUE(Event_Bind(EVENT_COMMAND, 3, 1, 0, Callback<'a'>));
    Event_Post(EVENT_COMMAND, 1, 3, 0);
    EXPECT_EQ(closing_calls, 1);
    EXPECT_TRUE(calls.empty()) << "the entry after the closing one was unbound before its turn";
    EXPECT_EQ(RecordOf(3), nullptr);
    EXPECT_TRUE(QueuedOf(EVENT_COMMAND).empty()) << "the closed window's event was discarded";
    Event_Post(EVENT_COMMAND, 1, 3, 0);
    EXPECT_EQ(closing_calls, 1) << "the binding is gone";
    EXPECT_TRUE(Event_Bind(EVENT_COMMAND, 3, 1, 0, Callback<'b'>)) << "and can be made anew";
    Event_Post(EVENT_COMMAND, 1, 3, 0);
    EXPECT_EQ(calls, (std::vector<Call>{{'b', {EVENT_COMMAND, 1, 3, 0}}}));
}
