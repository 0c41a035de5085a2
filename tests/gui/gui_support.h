// Shared pieces of the window and event tests: the libraries started once for the whole run,
// a fixture that leaves no window or event behind, and ways to look at the event queue.
#pragma once

#include "runtime/gui/internal/events.h"
#include "runtime/gui/internal/gadgets.h"
#include "runtime/gui/internal/window_records.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace gui_test {

struct Event {
    int64_t code;
    int64_t object;
    int64_t window;
    int64_t type;
    bool operator==(const Event&) const = default;
};
// A failure shows an event's four fields, not the bytes of the record.
inline void PrintTo(const Event& event, std::ostream* out) {
    *out << "{code " << event.code << ", object " << event.object << ", window " << event.window
         << ", type " << event.type << "}";
}

// What Event_Gadget and Event_Type gave right after Event_Init, before any Event_Wait.
struct InitialAccessors {
    int64_t gadget;
    int64_t type;
};
InitialAccessors InitialAccessorValues();

// The queued events, oldest first, without taking them.
std::vector<Event> Queued();
// Takes every queued event with Event_Dequeue.
std::vector<Event> DequeueAll();
// Queued events of one code.
std::vector<Event> QueuedOf(int64_t code);
void ClearQueue();

// Runs Event_Wait(`step_ms`) until it returns `code` or `timeout_ms` have passed; every code
// seen (0 left out) goes into `seen`. True when `code` came.
bool WaitForCode(int64_t code, DWORD timeout_ms, std::vector<int64_t>* seen = nullptr);
// Dispatches whatever arrives for `ms` milliseconds (events are left queued).
void PumpMessages(DWORD ms);

// The screen rectangle of a window.
RECT RectOf(HWND window);
HWND HandleOf(int64_t window_number);
WindowRecord* RecordOf(int64_t window_number);
std::wstring ClassNameOf(HWND window);
// Whether a window class of that name is registered by this module.
bool ClassExists(const std::wstring& name);

// Brings a runtime window to the foreground, pumping messages while it waits.
bool Activate(HWND window);

// Every test starts and ends with no runtime window and an empty queue.
class GuiTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
};

} // namespace gui_test
