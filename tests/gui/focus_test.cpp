#include "gui/gui_support.h"
#include "runtime/gui/internal/window_procedure.h"
#include "support/window_driver.h"

using namespace gui_test;

namespace {

class KeyboardFocus : public GuiTest {};

// Runs the event loop until the focus is on `expected` (then a little longer, so that the key
// releases are through), or until the time is up. Returns where the focus ended.
HWND LoopUntilFocus(HWND expected) {
    const ULONGLONG deadline = GetTickCount64() + 1500;
    while (GetTickCount64() < deadline && GetFocus() != expected) {
        Event_Wait(20);
    }
    for (int settle = 0; settle < 3; ++settle) {
        Event_Wait(20);
    }
    return GetFocus();
}

HWND Tab(HWND expected, bool backwards = false) {
    driver::PressKey(VK_TAB, backwards);
    return LoopUntilFocus(expected);
}

HWND ControlOf(int64_t result) {
    return reinterpret_cast<HWND>(result);
}

constexpr LRESULT kCuesHidden = UISF_HIDEFOCUS | UISF_HIDEACCEL;

// Keeps a window's keyboard-cue state the way Windows does (Wine answers WM_QUERYUISTATE with
// 0 whatever happened), through the record's window callback, which sees every message first.
struct {
    HWND window;
    LRESULT state;
} ui_state{};

LRESULT TrackUiState(HWND handle, UINT message, WPARAM wParam, LPARAM) {
    if (handle != ui_state.window) {
        return USER_DEFAULT;
    }
    if (message == WM_QUERYUISTATE) {
        return ui_state.state;
    }
    if (message == WM_UPDATEUISTATE && LOWORD(wParam) == UIS_SET) {
        ui_state.state |= HIWORD(wParam);
    } else if (message == WM_UPDATEUISTATE && LOWORD(wParam) == UIS_CLEAR) {
        ui_state.state &= ~static_cast<LRESULT>(HIWORD(wParam));
    }
    return USER_DEFAULT;
}

void TrackCuesOf(int64_t number, LRESULT initial) {
    ui_state = {HandleOf(number), initial};
    RecordOf(number)->callback = TrackUiState;
}

LRESULT CuesOf(HWND window) {
    return SendMessageW(window, WM_QUERYUISTATE, 0, 0) & kCuesHidden;
}

} // namespace

TEST_F(KeyboardFocus, TabAndShiftTabCycleThroughTheTabStops) {
    Window_Open(0, 100, 100, 300, 220, L"tabs", WS_CAPTION | WS_SYSMENU);
    HWND window = HandleOf(0);
    HWND first = ControlOf(Button_Create(0, 5, 5, 90, 24, L"first"));
    HWND disabled = ControlOf(Button_Create(1, 5, 35, 90, 24, L"disabled"));
    HWND hidden = ControlOf(Button_Create(2, 5, 65, 90, 24, L"hidden"));
    HWND no_stop = ControlOf(Button_Create(3, 5, 95, 90, 24, L"no stop"));
    HWND middle = ControlOf(Button_Create(4, 5, 125, 90, 24, L"middle"));
    HWND last = ControlOf(Button_Create(5, 5, 155, 90, 24, L"last"));
    EnableWindow(disabled, FALSE);
    ShowWindow(hidden, SW_HIDE);
    SetWindowLongPtrW(no_stop, GWL_STYLE, GetWindowLongPtrW(no_stop, GWL_STYLE) & ~WS_TABSTOP);
    ASSERT_TRUE(Activate(window));
    // Ctrl or Shift alone (no accelerator) shows the cues once its key message is retrieved.
    for (WORD modifier : {VK_CONTROL, VK_SHIFT}) {
        TrackCuesOf(0, kCuesHidden);
        driver::PressKey(modifier);
        for (const ULONGLONG end = GetTickCount64() + 1000;
             CuesOf(window) && GetTickCount64() < end;) {
            Event_Wait(20);
        }
        EXPECT_EQ(CuesOf(window), 0) << "modifier key " << modifier << " alone shows the cues";
    }
    TrackCuesOf(0, kCuesHidden);

    // With no control focused, Tab goes to the first tab stop, Shift+Tab to the last.
    SetFocus(window);
    EXPECT_EQ(Tab(first), first);
    EXPECT_EQ(CuesOf(window), 0) << "keyboard navigation shows the focus rectangle";
    EXPECT_EQ(Tab(middle), middle) << "disabled, hidden and non-stop controls are skipped";
    EXPECT_EQ(Tab(last), last);
    EXPECT_EQ(Tab(first), first) << "past the last tab stop comes the first";
    EXPECT_EQ(Tab(last, true), last) << "before the first comes the last";
    EXPECT_EQ(Tab(middle, true), middle);
    EXPECT_EQ(Tab(first, true), first);
    SetFocus(window);
    EXPECT_EQ(Tab(last, true), last);

    // From a focused control without WS_TABSTOP (a clicked one, say) Tab does not get stuck.
    SetFocus(no_stop);
    EXPECT_EQ(Tab(middle), middle);
    SetFocus(no_stop);
    EXPECT_EQ(Tab(first, true), first);

    // There is no shortcut-key gadget: a button that some program marked as one still passes
    // the focus on.
    SetPropW(middle, L"Tavi_Hotkey", reinterpret_cast<HANDLE>(1));
    SetFocus(middle);
    EXPECT_EQ(Tab(last), last);
    RemovePropW(middle, L"Tavi_Hotkey");
}

TEST_F(KeyboardFocus, TheFocusComesBackWhenTheWindowIsActivatedAgain) {
    Window_Open(1, 100, 100, 200, 100, L"keeps focus", WS_CAPTION | WS_SYSMENU);
    HWND window = HandleOf(1);
    Button_Create(0, 5, 5, 90, 24, L"a");
    HWND second = ControlOf(Button_Create(1, 5, 35, 90, 24, L"b"));
    Window_Open(2, 400, 100, 200, 100, L"other", WS_CAPTION | WS_SYSMENU);
    HWND other = HandleOf(2);

    ASSERT_TRUE(Activate(window));
    SetFocus(second);
    TrackCuesOf(1, 0);
    ClearQueue();
    ASSERT_TRUE(Activate(other));
    EXPECT_EQ(GetPropW(window, L"Tavi_Focus"), second);
    EXPECT_EQ(CuesOf(window), kCuesHidden) << "deactivation hides the cues";
    EXPECT_FALSE(QueuedOf(EVENT_WINDOW_DEACTIVATED).empty());
    EXPECT_EQ(QueuedOf(EVENT_WINDOW_DEACTIVATED).front().window, 1);

    // A deactivation made up while the focus is in the other window remembers nothing of it.
    SetFocus(ControlOf(Button_Create(3, 5, 5, 90, 24, L"c")));
    SendMessageW(window, WM_ACTIVATE, WA_INACTIVE, 0);
    EXPECT_EQ(GetPropW(window, L"Tavi_Focus"), second);

    // The property only shows the saved focus: another program that names the other button in
    // it does not choose the button that a key press then works.
    SetPropW(window, L"Tavi_Focus", GetDlgItem(window, 0));
    ClearQueue();
    ASSERT_TRUE(Activate(window));
    EXPECT_EQ(GetFocus(), second);
    const std::vector<Event> activated = QueuedOf(EVENT_WINDOW_ACTIVATED);
    ASSERT_FALSE(activated.empty());
    EXPECT_EQ(activated.back().window, 1);
}

TEST_F(KeyboardFocus, AnEditableRichEditKeepsTabAReadOnlyOneDoesNot) {
    ASSERT_NE(LoadLibraryW(L"riched20.dll"), nullptr);
    Window_Open(1, 100, 100, 300, 200, L"rich", WS_CAPTION | WS_SYSMENU);
    HWND window = HandleOf(1);
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_MULTILINE;
    HWND editable = CreateWindowExW(0, L"RichEdit20W", L"", style, 5, 5, 200, 60, window, nullptr,
                                    nullptr, nullptr);
    HWND read_only = CreateWindowExW(0, L"RichEdit20W", L"", style | ES_READONLY, 5, 70, 200, 60,
                                     window, nullptr, nullptr, nullptr);
    HWND after = ControlOf(Button_Create(0, 5, 140, 90, 24, L"after"));
    ASSERT_NE(editable, nullptr);
    ASSERT_NE(read_only, nullptr);
    ASSERT_TRUE(Activate(window));

    SetFocus(editable);
    EXPECT_EQ(Tab(read_only), editable) << "the Tab goes into the text";
    wchar_t text[16] = {};
    GetWindowTextW(editable, text, 16);
    EXPECT_STREQ(text, L"\t");

    SetFocus(read_only);
    EXPECT_EQ(Tab(after), after) << "a read-only rich edit leaves Tab to the window";
}
