#include "gui/gui_support.h"
#include "support/window_driver.h"

#include <algorithm>

using namespace gui_test;

namespace {

class Gadgets : public GuiTest {};

GadgetRecord* GadgetOf(int64_t identity) {
    return static_cast<GadgetRecord*>(Objects_Get(Gadget_Registry(), identity));
}

std::wstring StackPropertyName() {
    return L"Tavi_GadgetStack_" + std::to_wstring(reinterpret_cast<int64_t>(Runtime_Module()));
}

// Clicks a control for real and collects what Event_Wait hands out until EVENT_GADGET.
std::vector<int64_t> ClickAndCollect(HWND control) {
    std::vector<int64_t> seen;
    driver::ClickCentre(control);
    WaitForCode(EVENT_GADGET, 3000, &seen);
    return seen;
}

// A kind whose message handler takes every command it is offered.
std::vector<HWND> offered;
LRESULT TakeCommand(GadgetRecord* record, HWND, UINT, WPARAM, LPARAM) {
    offered.push_back(record->control);
    return 0;
}

} // namespace

TEST_F(Gadgets, OnlyAGadgetsOwnControlReachesItsKindsHandler) {
    Window_Open(1, 10, 10, 200, 100, L"kinds", WS_CAPTION);
    HWND window = HandleOf(1);
    auto control = reinterpret_cast<HWND>(Button_Create(0, 1, 1, 80, 24, L"zero"));
    GadgetKind taking = *Button_Kind();
    taking.message_handler = TakeCommand;
    GadgetOf(0)->kind = &taking;
    // A foreign control with id 0 and no "Tavi_ID" reads like gadget 0 by id and property.
    HWND foreign =
        CreateWindowExW(0, L"Static", L"", WS_CHILD, 0, 0, 5, 5, window, nullptr, nullptr, nullptr);
    offered.clear();
    ClearQueue();
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(0, 0), reinterpret_cast<LPARAM>(foreign));
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(0, 0), reinterpret_cast<LPARAM>(control));
    EXPECT_EQ(offered, std::vector<HWND>{control});
    EXPECT_EQ(Queued(), std::vector<Event>{})
        << "the foreign control is no gadget and the gadget took its command: no event";
    GadgetOf(0)->kind = Button_Kind();
}

TEST_F(Gadgets, AButtonIsAnAttachedPushButtonInTheCurrentList) {
    Window_Open(1, 10, 10, 260, 120, L"buttons", WS_CAPTION);
    HWND window = HandleOf(1);
    const int64_t result = Button_Create(4, 1, 1, 248, 30, L"Désactiver le mode classique F8");
    auto control = reinterpret_cast<HWND>(result);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(GetParent(control), window);
    EXPECT_EQ(driver::ClassOf(control), L"Button");
    EXPECT_EQ(driver::TextOf(control), L"Désactiver le mode classique F8");
    EXPECT_EQ(GetWindowLongPtrW(control, GWL_STYLE), WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP);
    EXPECT_EQ(GetWindowLongPtrW(control, GWL_EXSTYLE), 0);
    EXPECT_EQ(GetWindowLongPtrW(control, GWLP_ID), 4);
    EXPECT_EQ(GetPropW(control, L"Tavi_ID"), reinterpret_cast<HANDLE>(4));
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)),
              GetStockObject(DEFAULT_GUI_FONT));

    GadgetRecord* record = GadgetOf(4);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->control, control);
    ASSERT_EQ(record->kind, Button_Kind());
    EXPECT_EQ(record->kind->kind_code, 1);
    EXPECT_EQ(record->kind->message_handler, nullptr) << "every button command is an event";

    // A null caption, and button style flags added unchanged.
    auto empty = reinterpret_cast<HWND>(Button_Create(5, 1, 40, 100, 24, nullptr));
    EXPECT_EQ(driver::TextOf(empty), L"");
    auto check = reinterpret_cast<HWND>(Button_Create(6, 1, 70, 100, 24, L"x", BS_AUTOCHECKBOX));
    EXPECT_EQ(GetWindowLongPtrW(check, GWL_STYLE),
              WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_AUTOCHECKBOX);
    GadgetRecord* check_record = GadgetOf(6);
    record->kind->set_state(check_record, 7);
    EXPECT_EQ(SendMessageW(check, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(record->kind->get_state(check_record), 1);
    record->kind->set_state(check_record, 0);
    EXPECT_EQ(record->kind->get_state(check_record), 0);

    // The required size fits the text, and is at least 24 high.
    int32_t empty_width = 0, empty_height = 0, width = 0, height = 0;
    record->kind->required_size(GadgetOf(5), &empty_width, &empty_height);
    record->kind->required_size(record, &width, &height);
    EXPECT_EQ(empty_width, 2 * GetSystemMetrics(SM_CXEDGE) + 10);
    EXPECT_GE(empty_height, 24);
    EXPECT_GT(width, 100);
}

TEST_F(Gadgets, ANumberInUseIsReplacedOnlyOnceTheNewControlExists) {
    Window_Open(1, 10, 10, 260, 120, L"replace", WS_CAPTION);
    HWND window = HandleOf(1);
    auto old_control = reinterpret_cast<HWND>(Button_Create(5, 1, 1, 100, 30, L"old"));
    auto other = reinterpret_cast<HWND>(Button_Create(6, 1, 40, 100, 30, L"other"));
    ClearQueue();
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(5, BN_CLICKED),
                 reinterpret_cast<LPARAM>(old_control));
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(6, BN_CLICKED), reinterpret_cast<LPARAM>(other));
    ASSERT_EQ(QueuedOf(EVENT_GADGET).size(), 2u);

    auto new_control = reinterpret_cast<HWND>(Button_Create(5, 120, 1, 100, 30, L"new"));
    ASSERT_NE(new_control, nullptr);
    EXPECT_NE(new_control, old_control);
    EXPECT_FALSE(IsWindow(old_control));
    EXPECT_EQ(GadgetOf(5)->control, new_control);
    EXPECT_EQ(GetWindowLongPtrW(new_control, GWLP_ID), 5);
    EXPECT_EQ(QueuedOf(EVENT_GADGET), (std::vector<Event>{{EVENT_GADGET, 6, 1, 0}}))
        << "the old gadget's pending event is gone, the other one stays";

    // Without a current gadget list nothing is made and the live gadget is untouched.
    Window_Open(2, 300, 10, 100, 40, L"short-lived", WS_CAPTION);
    Window_Close(2);
    EXPECT_EQ(GadgetList_Owner(), nullptr);
    EXPECT_EQ(Button_Create(5, 1, 1, 100, 30, L"nowhere"), 0);
    EXPECT_EQ(Button_Create(ANY_NUMBER, 1, 1, 100, 30, L"nowhere"), 0);
    EXPECT_TRUE(IsWindow(new_control));
    EXPECT_EQ(GadgetOf(5)->control, new_control);
    EXPECT_EQ(Gadget_Registry()->any_list, nullptr) << "no record was taken";

    // Destroying the parent clears the records through the controls' clean-up.
    Window_Close(1);
    EXPECT_EQ(GadgetOf(5), nullptr);
    EXPECT_EQ(GadgetOf(6), nullptr);
}

TEST_F(Gadgets, EachWindowKeepsItsOwnGadgetListState) {
    Window_Open(1, 10, 10, 200, 100, L"first", WS_CAPTION);
    HWND first = HandleOf(1);
    Window_Open(2, 300, 10, 200, 100, L"second", WS_CAPTION);
    HWND second = HandleOf(2);
    const std::wstring property = StackPropertyName();
    auto* snapshot = static_cast<GadgetListSnapshot*>(GetPropW(first, property.c_str()));
    ASSERT_NE(snapshot, nullptr);
    EXPECT_EQ(snapshot->window, first);
    EXPECT_NE(GetPropW(second, property.c_str()), nullptr);

    EXPECT_EQ(GadgetList_Use(nullptr), second) << "null changes nothing";
    EXPECT_EQ(GadgetList_Use(second), second) << "the current window again changes nothing";
    EXPECT_EQ(GadgetList_Owner(), second);
    EXPECT_EQ(GadgetList_Use(first), second);
    auto control = reinterpret_cast<HWND>(Button_Create(1, 1, 1, 80, 24, L"in first"));
    EXPECT_EQ(GetParent(control), first);
    EXPECT_EQ(GadgetList_State()->capacity, 10);
    EXPECT_EQ(GetWindowLongPtrW(first, GWLP_WNDPROC),
              reinterpret_cast<LONG_PTR>(GadgetList_WindowProc));

    // Closing a window that is not current leaves the current one alone.
    Window_Close(2);
    EXPECT_EQ(GadgetList_Owner(), first);
    Window_Close(1);
    EXPECT_EQ(GadgetList_Owner(), nullptr);
    EXPECT_NE(GadgetList_State()->stack, nullptr) << "the state keeps its stack array";
}

TEST_F(Gadgets, ARealClickGivesTheMouseMessagesThenTheGadgetEvent) {
    Window_Open(0, 100, 100, 250, 70, L"Kestrevel",
                WS_CAPTION | WS_SYSMENU | WINDOW_CENTER_ON_SCREEN);
    HWND window = HandleOf(0);
    Window_SetTopmost(0, 1);
    auto numbered = reinterpret_cast<HWND>(
        Button_Create(1, 1, 35, 248, 30, L"Désactiver le mode classique F8"));
    const int64_t identity = Button_Create(ANY_NUMBER, 1, 1, 248, 30, L"any");
    ASSERT_NE(numbered, nullptr);
    ASSERT_NE(identity, 0);
    ASSERT_TRUE(Activate(window));
    PumpMessages(50);
    ClearQueue();
    std::vector<int64_t> seen = ClickAndCollect(numbered);
    ASSERT_FALSE(seen.empty());
    ASSERT_EQ(seen.back(), EVENT_GADGET) << "no gadget event after the click";
    EXPECT_EQ(Event_Gadget(), 1);
    EXPECT_EQ(Event_Type(), BN_CLICKED);
    EXPECT_EQ(Event_Queue()->current_window, 0);
    EXPECT_NE(std::find(seen.begin(), seen.end(), WM_LBUTTONDOWN), seen.end());
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[seen.size() - 2], WM_LBUTTONUP) << "the gadget event comes on the next call";
    EXPECT_FALSE(WaitForCode(EVENT_GADGET, 200)) << "one click, one gadget event";

    // A button made with ANY_NUMBER is named by its record, and carries the whole identity.
    GadgetRecord* record = GadgetOf(identity);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(identity, reinterpret_cast<int64_t>(record));
    EXPECT_EQ(GetWindowLongPtrW(record->control, GWLP_ID), identity);
    EXPECT_EQ(reinterpret_cast<int64_t>(GetPropW(record->control, L"Tavi_ID")), identity);
    HWND any_control = record->control;
    seen = ClickAndCollect(any_control);
    ASSERT_FALSE(seen.empty());
    ASSERT_EQ(seen.back(), EVENT_GADGET);
    EXPECT_EQ(Event_Gadget(), identity) << "the full identity, not its low 16 bits";
    EXPECT_EQ(Event_Type(), 0);
    Gadget_Free(identity);
    EXPECT_FALSE(IsWindow(any_control));
    EXPECT_EQ(Gadget_Registry()->any_list, nullptr) << "its record is freed";
}

// Any program can write a control's identifier and any property of our windows: the runtime's
// own records still say which window and which gadget a handle is, and no property is followed
// as an address.
TEST_F(Gadgets, WhatOtherProgramsWriteOnOurWindowsDecidesNothing) {
    Window_Open(3, 300, 10, 100, 50, L"other", WS_CAPTION);
    Window_Open(0, 10, 10, 250, 70, L"written on", WS_CAPTION | WS_SYSMENU);
    HWND window = HandleOf(0);
    auto legacy = reinterpret_cast<HWND>(Button_Create(0, 1, 1, 248, 30, L"legacy"));
    auto standard = reinterpret_cast<HWND>(Button_Create(1, 1, 35, 248, 30, L"standard"));
    const auto clicked = [](HWND button) {
        ClearQueue();
        SendMessageW(button, BM_CLICK, 0, 0);
        return QueuedOf(EVENT_GADGET);
    };
    const auto closed = [window] {
        ClearQueue();
        SendMessageW(window, WM_CLOSE, 0, 0);
        return QueuedOf(EVENT_CLOSE_WINDOW);
    };
    const std::vector<Event> legacy_click{{EVENT_GADGET, 0, 0, BN_CLICKED}};
    const std::vector<Event> standard_click{{EVENT_GADGET, 1, 0, BN_CLICKED}};
    const std::vector<Event> close{{EVENT_CLOSE_WINDOW, 0, 0, 0}};

    // Exchanged identifiers, and one that marks a control as detached.
    SetWindowLongPtrW(legacy, GWLP_ID, 1);
    SetPropW(legacy, L"Tavi_ID", reinterpret_cast<HANDLE>(1));
    SetWindowLongPtrW(standard, GWLP_ID, -1);
    RemovePropW(standard, L"Tavi_ID");
    EXPECT_EQ(clicked(legacy), legacy_click) << "exchanged identifiers";
    EXPECT_EQ(clicked(standard), standard_click) << "the button still works as one";

    // Every property of the runtime's set to an address that is none.
    const std::wstring stack = StackPropertyName();
    const wchar_t* const names[] = {L"Tavi_WindowID",   L"Tavi_ID",         L"Tavi_Focus",
                                    L"Tavi_DropAccept", L"Tavi_MDI_Gadget", L"Tavi_Hotkey",
                                    stack.c_str()};
    for (HWND target : {window, legacy, standard}) {
        for (const wchar_t* name : names) {
            SetPropW(target, name, reinterpret_cast<HANDLE>(0x10));
        }
    }
    EXPECT_EQ(clicked(legacy), legacy_click) << "bad addresses in every property";
    EXPECT_EQ(closed(), close);
    // A frame's default procedure would give the focus to the MDI client the property names.
    SetPropW(window, L"Tavi_MDI_Gadget", standard);
    SetFocus(window);
    SendMessageW(window, WM_SETFOCUS, 0, 0);
    EXPECT_NE(GetFocus(), standard) << "no MDI client of ours, whatever the property names";

    // Every property removed, or one that names another window.
    for (HWND target : {window, legacy, standard}) {
        for (const wchar_t* name : names) {
            RemovePropW(target, name);
        }
    }
    EXPECT_EQ(clicked(standard), standard_click) << "no property at all";
    EXPECT_EQ(closed(), close) << "the window is not lost without its property";
    SetPropW(window, L"Tavi_WindowID", reinterpret_cast<HANDLE>(3 + 1));
    EXPECT_EQ(closed(), close) << "a property naming window 3 changes nothing";

    // The snapshot is found and freed by the window, never by the property.
    ASSERT_NE(GadgetList_SnapshotOf(window), nullptr);
    Window_Close(0);
    EXPECT_EQ(GadgetList_SnapshotOf(window), nullptr);
    EXPECT_EQ(Objects_Get(Gadget_Registry(), 0), nullptr);
}
