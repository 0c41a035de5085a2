#include "gui/gui_support.h"

#include <algorithm>

namespace gui_test {

namespace {

InitialAccessors initial_accessors{-99, -99};

// The libraries this group needs, in the program's start-up and shutdown orders.
class GuiLibraries : public testing::Environment {
  public:
    void SetUp() override {
        Map_Init();
        Event_Init();
        initial_accessors = {Event_Gadget(), Event_Type()};
        Window_Init();
        Gadget_Init();
    }
    void TearDown() override {
        Gadget_End();
        Window_End();
        Event_End();
    }
};

[[maybe_unused]] testing::Environment* const libraries =
    testing::AddGlobalTestEnvironment(new GuiLibraries);

} // namespace

InitialAccessors InitialAccessorValues() {
    return initial_accessors;
}

std::vector<Event> Queued() {
    std::vector<Event> events;
    for (EventNode* node = Event_Queue()->head; node; node = node->next) {
        events.push_back({node->code, node->object, node->window, node->type});
    }
    return events;
}

std::vector<Event> DequeueAll() {
    std::vector<Event> events;
    while (const int32_t code = Event_Dequeue()) {
        events.push_back({code, Event_Gadget(), Event_Queue()->current_window, Event_Type()});
    }
    return events;
}

std::vector<Event> QueuedOf(int64_t code) {
    std::vector<Event> events = Queued();
    std::erase_if(events, [code](const Event& event) { return event.code != code; });
    return events;
}

void ClearQueue() {
    Event_Discard(-1, -1, -1, -1);
}

bool WaitForCode(int64_t code, DWORD timeout_ms, std::vector<int64_t>* seen) {
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    while (GetTickCount64() < deadline) {
        const int64_t got = Event_Wait(20);
        if (got && seen) {
            seen->push_back(got);
        }
        if (got == code) {
            return true;
        }
    }
    return false;
}

void PumpMessages(DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    MSG message{};
    do {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (GetTickCount64() < deadline);
}

RECT RectOf(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

WindowRecord* RecordOf(int64_t window_number) {
    return static_cast<WindowRecord*>(Objects_Get(Window_Registry(), window_number));
}

HWND HandleOf(int64_t window_number) {
    WindowRecord* record = RecordOf(window_number);
    return record ? record->handle : nullptr;
}

std::wstring ClassNameOf(HWND window) {
    wchar_t name[128] = {};
    GetClassNameW(window, name, 128);
    return name;
}

bool ClassExists(const std::wstring& name) {
    WNDCLASSW info{};
    return GetClassInfoW(Runtime_Module(), name.c_str(), &info) != FALSE;
}

bool Activate(HWND window) {
    for (int attempt = 0; attempt < 40; ++attempt) {
        SetForegroundWindow(window);
        PumpMessages(20);
        if (GetForegroundWindow() == window && GetActiveWindow() == window) {
            return true;
        }
    }
    return false;
}

void GuiTest::SetUp() {
    Window_Close(ANY_NUMBER);
    PumpMessages(10);
    ClearQueue();
}

void GuiTest::TearDown() {
    Window_Close(ANY_NUMBER);
    PumpMessages(10);
    ClearQueue();
    // Nothing a test did may outlive it.
    EXPECT_EQ(GadgetList_Owner(), nullptr);
}

} // namespace gui_test
