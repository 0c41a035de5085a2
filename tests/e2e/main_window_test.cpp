#include "support/window_driver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr DWORD kWait = 20000;
constexpr wchar_t kEnabled[] = L"L'activation du menu du mode sans echec via F8 est activé";
constexpr wchar_t kDisabled[] = L"L'activation du menu du mode sans echec via F8 est désactivé";
constexpr wchar_t kFailure[] = L"Opération impossible, vous devez avoir les droits administrateurs";

std::wstring SystemFolder() {
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    return folder;
}

// Every new Wine process gets SystemRoot=C:\windows: the stand-in goes where the program looks,
// for the length of one test. Wine has no tool of its own; a real system's is never touched.
class StandinInstalled {
  public:
    StandinInstalled() {
        target_ = SystemFolder() + L"\\bcdedit.exe";
        const std::wstring standin = driver::StandinFile();
        // Anything there under Wine is an earlier copy of the stand-in.
        installed_ = driver::RunningUnderWine() &&
                     CopyFileW(standin.c_str(), target_.c_str(), FALSE) != FALSE;
    }
    ~StandinInstalled() {
        if (installed_) {
            DeleteFileW(target_.c_str());
        }
    }
    StandinInstalled(const StandinInstalled&) = delete;
    StandinInstalled& operator=(const StandinInstalled&) = delete;
    bool installed() const { return installed_; }

  private:
    std::wstring target_;
    bool installed_ = false;
};

// One running Kestrevel with the stand-in told how to answer.
class Kestrevel {
  public:
    Kestrevel(const wchar_t* standin_mode) {
        log_ = driver::OwnFolder() + L"standin_calls.log";
        DeleteFileW(log_.c_str());
        SetEnvironmentVariableW(L"KV_STANDIN_LOG", log_.c_str());
        SetEnvironmentVariableW(L"KV_STANDIN_MODE", standin_mode);
        started_ = process_.Start(L"\"" + driver::ProgramFile() + L"\"");
        if (started_) {
            main_ = driver::WaitForWindow(process_.id(), nullptr, L"Kestrevel", kWait);
            // The set-up ends with the buttons: once both exist, it is complete.
            driver::WaitForChildren(main_, L"Button", 2, kWait);
        }
    }
    // The window and both buttons are there.
    bool Ready() const { return main_ && Buttons().size() == 2; }
    HWND main() const { return main_; }
    driver::ChildProcess& process() { return process_; }
    std::string Calls() const { return driver::FileBytes(log_); }

    // The buttons, once the program has made both.
    std::vector<HWND> Buttons() const {
        return driver::WaitForChildren(main_, L"Button", 2, kWait);
    }

    // Clicks a button and returns the verdict box that follows.
    HWND Click(HWND button) {
        driver::BringToFront(main_);
        driver::ClickCentre(button);
        return driver::WaitForWindow(process_.id(), L"#32770", L"Info", kWait);
    }

    // Acknowledges a message box with a real Return key.
    void Acknowledge(HWND box) { driver::Acknowledge(box, kWait); }

  private:
    driver::ChildProcess process_;
    std::wstring log_;
    bool started_ = false;
    HWND main_ = nullptr;
};

// Each test runs the program against the stand-in tool, which only Wine lets us install.
class MainWindow : public testing::Test {
  protected:
    void SetUp() override {
        if (!driver::RunningUnderWine()) {
            GTEST_SKIP() << "runs the program against the stand-in tool, under Wine only";
        }
        standin_.emplace();
        ASSERT_TRUE(standin_->installed());
    }

  private:
    std::optional<StandinInstalled> standin_;
};

// The runtime's message-only window in a process: the post-event window.
HWND PostEventWindowOf(DWORD process_id) {
    for (HWND window = FindWindowExW(HWND_MESSAGE, nullptr, L"PostEventClass", nullptr); window;
         window = FindWindowExW(HWND_MESSAGE, window, L"PostEventClass", nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == process_id) {
            return window;
        }
    }
    return nullptr;
}

// Messages that stand for a person's input or a close: any program may click a button or close
// the window, and that is no fault.
bool IsInputOrClose(UINT message) {
    return message == WM_CLOSE || message == WM_QUIT || message == BM_CLICK ||
           message == 0x313 /* WM_POPUPSYSTEMMENU */ ||
           (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
           (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
           (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK) ||
           (message >= WM_NCMOUSEHOVER && message <= WM_MOUSELEAVE);
}

// Every message number that the sweep posts and sends: the system's range, the first of the
// private ranges, the runtime's own range around its event codes and messages, and registered
// messages, the runtime's own among them.
std::vector<UINT> SweptMessages() {
    std::vector<UINT> messages;
    const auto add = [&messages](UINT first, UINT last) {
        for (UINT message = first; message <= last; ++message) {
            if (!IsInputOrClose(message)) {
                messages.push_back(message);
            }
        }
    };
    // The runtime's range comes first, while the object of the last event is still 0 (the
    // window's activation): a message that passed for EVENT_GADGET would make the loop act on
    // button 0.
    add(0x3000, 0x33FF);
    add(0, 0x3FF);
    add(WM_USER, WM_USER + 0x1F);
    add(WM_APP, WM_APP + 0x1F);
    for (int name = 0; name < 16; ++name) {
        const std::wstring text = L"Kestrevel sweep " + std::to_wstring(name);
        messages.push_back(RegisterWindowMessageW(text.c_str()));
    }
    messages.push_back(RegisterWindowMessageW(L"Tavi_PostEventMessage"));
    return messages;
}

// Waits until a program has taken every message posted to its thread so far and handled every
// message sent to it. Posted messages are taken in the order they came: once a button shows the
// state that a message posted last gave it, everything posted before was taken. The button is
// pushed and then released, so that a state left by earlier messages cannot pass for the answer.
bool CaughtUp(HWND button) {
    for (const bool pushed : {true, false}) {
        if (!PostMessageW(button, BM_SETSTATE, pushed, 0)) {
            return false;
        }
        const ULONGLONG deadline = GetTickCount64() + 10000;
        DWORD_PTR state = 0;
        do {
            if (!SendMessageTimeoutW(button, BM_GETSTATE, 0, 0, SMTO_ABORTIFHUNG, 10000, &state) ||
                GetTickCount64() > deadline) {
                return false;
            }
        } while (((state & BST_PUSHED) != 0) != pushed);
    }
    return true;
}

std::string Hex(UINT value) {
    char text[16];
    snprintf(text, sizeof(text), "0x%X", value);
    return text;
}

size_t MessageBoxesOf(DWORD process_id) {
    size_t boxes = 0;
    for (HWND top : driver::TopWindowsOf(process_id)) {
        boxes += driver::ClassOf(top) == L"#32770" ? 1 : 0;
    }
    return boxes;
}

// After the window was closed: exactly one credit box, with the information icon, while the
// window stays; then the end with exit code 0.
void ExpectOneCreditThenTheEnd(Kestrevel& kestrevel) {
    HWND credit = driver::WaitForWindow(kestrevel.process().id(), L"#32770", L"Info", kWait);
    ASSERT_NE(credit, nullptr) << "no credit box";
    EXPECT_TRUE(driver::MessageBoxHasIcon(credit));
    EXPECT_FALSE(driver::MessageBoxText(credit).empty());
    EXPECT_TRUE(IsWindowVisible(kestrevel.main())) << "the window stays while the credit shows";
    Sleep(300); // a second box would have come by now
    EXPECT_EQ(MessageBoxesOf(kestrevel.process().id()), 1u) << "one credit box";
    kestrevel.Acknowledge(credit);
    EXPECT_EQ(kestrevel.process().WaitForExit(kWait), 0);
}

} // namespace

TEST_F(MainWindow, SwitchesBothWaysAndClosesWithOneCredit) {
    Kestrevel kestrevel(L"");
    HWND main = kestrevel.main();
    ASSERT_NE(main, nullptr) << "no window titled Kestrevel";

    // Centred on the screen, topmost, with the two buttons.
    RECT rect{};
    GetWindowRect(main, &rect);
    EXPECT_EQ(rect.left, (GetSystemMetrics(SM_CXSCREEN) - (rect.right - rect.left)) / 2);
    EXPECT_EQ(rect.top, (GetSystemMetrics(SM_CYSCREEN) - (rect.bottom - rect.top)) / 2);
    RECT client{};
    GetClientRect(main, &client);
    EXPECT_EQ(client.right, 250);
    EXPECT_EQ(client.bottom, 70);
    EXPECT_TRUE(GetWindowLongPtrW(main, GWL_EXSTYLE) & WS_EX_TOPMOST);
    const std::vector<HWND> buttons = kestrevel.Buttons();
    ASSERT_EQ(buttons.size(), 2u);
    EXPECT_EQ(driver::TextOf(buttons[0]), L"Activer le mode classique F8");
    EXPECT_EQ(driver::TextOf(buttons[1]), L"Désactiver le mode classique F8");

    // Tab moves the focus from one button to the other and back.
    ASSERT_TRUE(driver::BringToFront(main));
    driver::PressKey(VK_TAB);
    Sleep(200);
    HWND first_focus = driver::FocusOf(main);
    EXPECT_TRUE(first_focus == buttons[0] || first_focus == buttons[1]);
    driver::PressKey(VK_TAB);
    Sleep(200);
    HWND second_focus = driver::FocusOf(main);
    EXPECT_TRUE(second_focus == buttons[0] || second_focus == buttons[1]);
    EXPECT_NE(first_focus, second_focus);
    driver::PressKey(VK_TAB, true);
    Sleep(200);
    EXPECT_EQ(driver::FocusOf(main), first_focus);

    // The first button asks for the legacy menu; the window hides while the verdict is up.
    HWND verdict = kestrevel.Click(buttons[0]);
    ASSERT_NE(verdict, nullptr);
    EXPECT_EQ(driver::MessageBoxText(verdict), kEnabled);
    EXPECT_FALSE(driver::MessageBoxHasIcon(verdict));
    EXPECT_FALSE(IsWindowVisible(main)) << "hidden while the verdict shows";
    EXPECT_EQ(kestrevel.Calls(),
              driver::Utf8(L"\"" + SystemFolder() +
                           L"\\bcdedit.exe\" /set {Default} bootmenupolicy legacy") +
                  "\n");
    kestrevel.Acknowledge(verdict);
    EXPECT_TRUE(driver::WaitForVisibility(main, true, kWait)) << "visible again after OK";

    verdict = kestrevel.Click(buttons[1]);
    ASSERT_NE(verdict, nullptr);
    EXPECT_EQ(driver::MessageBoxText(verdict), kDisabled);
    EXPECT_NE(kestrevel.Calls().find("bootmenupolicy standard"), std::string::npos);
    kestrevel.Acknowledge(verdict);
    EXPECT_TRUE(driver::WaitForVisibility(main, true, kWait));

    // The close box brings exactly one credit box, with the information icon, then the end.
    ASSERT_TRUE(driver::BringToFront(main));
    POINT close{};
    ASSERT_TRUE(driver::CloseBoxPoint(main, &close));
    driver::ClickAt(close.x, close.y);
    ExpectOneCreditThenTheEnd(kestrevel);
}

TEST_F(MainWindow, RefusedSwitchGivesTheFailureText) {
    Kestrevel kestrevel(L"denied");
    ASSERT_TRUE(kestrevel.Ready());
    const std::vector<HWND> buttons = kestrevel.Buttons();
    HWND verdict = kestrevel.Click(buttons[0]);
    ASSERT_NE(verdict, nullptr);
    EXPECT_EQ(driver::MessageBoxText(verdict), kFailure);
    EXPECT_FALSE(driver::MessageBoxHasIcon(verdict));
    kestrevel.Acknowledge(verdict);
    EXPECT_TRUE(driver::WaitForVisibility(kestrevel.main(), true, kWait));
    // Alt+F4 closes the window as the close box does.
    ASSERT_TRUE(driver::BringToFront(kestrevel.main()));
    INPUT keys[4] = {};
    for (INPUT& key : keys) {
        key.type = INPUT_KEYBOARD;
    }
    keys[0].ki.wVk = VK_MENU;
    keys[1].ki.wVk = VK_F4;
    keys[2].ki.wVk = VK_F4;
    keys[2].ki.dwFlags = KEYEVENTF_KEYUP;
    keys[3].ki.wVk = VK_MENU;
    keys[3].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(4, keys, sizeof(INPUT));
    ExpectOneCreditThenTheEnd(kestrevel);
}

// Every "Tavi_" property that the runtime sets or has a use for, and any other one that these
// windows carry.
std::set<std::wstring> RuntimeProperties(std::initializer_list<HWND> windows) {
    const auto module = GetWindowLongPtrW(*windows.begin(), GWLP_HINSTANCE);
    std::set<std::wstring> names{L"Tavi_WindowID",
                                 L"Tavi_ID",
                                 L"Tavi_Focus",
                                 L"Tavi_DropAccept",
                                 L"Tavi_MDI_Gadget",
                                 L"Tavi_Hotkey",
                                 L"Tavi_GadgetStack_" +
                                     std::to_wstring(static_cast<int64_t>(module))};
    for (HWND window : windows) {
        EnumPropsExW(
            window,
            [](HWND, LPWSTR name, HANDLE, ULONG_PTR found) -> BOOL {
                if (!IS_INTRESOURCE(name) && std::wstring(name).rfind(L"Tavi_", 0) == 0) {
                    reinterpret_cast<std::set<std::wstring>*>(found)->insert(name);
                }
                return TRUE;
            },
            reinterpret_cast<ULONG_PTR>(&names));
    }
    return names;
}

TEST_F(MainWindow, MessagesFromOtherProgramsChangeNothing) {
    Kestrevel kestrevel(L"");
    ASSERT_TRUE(kestrevel.Ready());
    HWND main = kestrevel.main();
    const std::vector<HWND> buttons = kestrevel.Buttons();

    // Another program forges clicks on button 0, with a made-up control and with the real one,
    // and a notification that carries an address of its own.
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), 0x1234));
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED),
                             reinterpret_cast<LPARAM>(buttons[0])));
    ASSERT_TRUE(PostMessageW(main, WM_NOTIFY, 0, 0x10));
    // It sets BS_NOTIFY on button 1, so that the button reports its focus changes, moves the
    // focus twice with posted Tab commands (64001, the accelerator command of the next tab stop)
    // and sends the button's other notifications: none of them is a click, here or whenever
    // the window is hidden and shown around a verdict later on.
    ASSERT_TRUE(driver::BringToFront(main));
    SetWindowLongPtrW(buttons[1], GWL_STYLE, GetWindowLongPtrW(buttons[1], GWL_STYLE) | BS_NOTIFY);
    for (int step = 0; step < 2; ++step) {
        ASSERT_TRUE(PostMessageW(main, WM_COMMAND, MAKEWPARAM(64001, 1), 0));
    }
    for (const WORD notification : {BN_KILLFOCUS, BN_SETFOCUS, BN_DBLCLK}) {
        SendMessageTimeoutW(main, WM_COMMAND,
                            MAKEWPARAM(GetWindowLongPtrW(buttons[1], GWLP_ID), notification),
                            reinterpret_cast<LPARAM>(buttons[1]), SMTO_ABORTIFHUNG, kWait, nullptr);
    }
    ASSERT_TRUE(CaughtUp(buttons[1]));
    // A crash ends the program within a second or so (the test prefix shows no crash dialog).
    ASSERT_EQ(WaitForSingleObject(kestrevel.process().handle(), 2000), WAIT_TIMEOUT) << "alive";
    ASSERT_EQ(MessageBoxesOf(kestrevel.process().id()), 0u) << "no verdict";
    ASSERT_EQ(kestrevel.Calls(), "") << "the tool never ran";

    // A real click still works, exactly once.
    HWND verdict = kestrevel.Click(buttons[1]);
    ASSERT_NE(verdict, nullptr);
    EXPECT_EQ(driver::MessageBoxText(verdict), kDisabled);
    const std::string tool = driver::Utf8(L"\"" + SystemFolder() + L"\\bcdedit.exe\"");
    std::string calls = tool + " /set {Default} bootmenupolicy standard\n";
    // Commands sent while the verdict is up (the window is hidden: no click of the user's) are
    // not acted on once it is acknowledged.
    const LONG_PTR legacy_id = GetWindowLongPtrW(buttons[0], GWLP_ID);
    SendMessageTimeoutW(main, WM_COMMAND, MAKEWPARAM(legacy_id, BN_CLICKED),
                        reinterpret_cast<LPARAM>(buttons[0]), SMTO_ABORTIFHUNG, kWait, nullptr);
    SendMessageTimeoutW(buttons[0], BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, kWait, nullptr);
    kestrevel.Acknowledge(verdict);
    ASSERT_TRUE(driver::WaitForVisibility(main, true, kWait));
    ASSERT_TRUE(CaughtUp(buttons[1]));
    EXPECT_EQ(MessageBoxesOf(kestrevel.process().id()), 0u) << "a second verdict came";
    EXPECT_EQ(kestrevel.Calls(), calls) << "what was sent during the verdict ran the tool";
    // The tool's process and pipe go with every verdict: switches cost no handles.
    const DWORD handles = driver::HandleCountOf(kestrevel.process().handle());
    EXPECT_NE(handles, 0u);

    // Another program exchanges the buttons' identifiers and sets every property of the
    // runtime's on the window and the buttons to an address that is none (the gadget tests try
    // each such write in-process): a real click still runs its own button's policy.
    const LONG_PTR standard_id = GetWindowLongPtrW(buttons[1], GWLP_ID);
    SetWindowLongPtrW(buttons[0], GWLP_ID, standard_id);
    SetWindowLongPtrW(buttons[1], GWLP_ID, legacy_id);
    const std::set<std::wstring> properties = RuntimeProperties({main, buttons[0], buttons[1]});
    for (HWND target : {main, buttons[0], buttons[1]}) {
        for (const std::wstring& name : properties) {
            SetPropW(target, name.c_str(), reinterpret_cast<HANDLE>(0x10));
        }
    }
    verdict = kestrevel.Click(buttons[0]);
    ASSERT_NE(verdict, nullptr) << "no verdict after the writes";
    EXPECT_EQ(driver::MessageBoxText(verdict), kEnabled);
    kestrevel.Acknowledge(verdict);
    calls += tool + " /set {Default} bootmenupolicy legacy\n";
    EXPECT_EQ(kestrevel.Calls(), calls);
    ASSERT_TRUE(driver::WaitForVisibility(main, true, kWait));
    ASSERT_TRUE(CaughtUp(buttons[1]));
    EXPECT_EQ(driver::HandleCountOf(kestrevel.process().handle()), handles)
        << "handles after the first verdict and after one more switch";

    // A flood of timer messages fills the queue; the close that follows it still gets through,
    // and a second close back to back brings no second credit.
    for (UINT_PTR timer = 1; timer <= 4 * 1024; ++timer) {
        ASSERT_TRUE(SendNotifyMessageW(main, WM_TIMER, timer, 0));
    }
    SendMessageTimeoutW(main, WM_SYSCOMMAND, SC_CLOSE, 0, SMTO_ABORTIFHUNG, kWait, nullptr);
    ASSERT_TRUE(PostMessageW(main, WM_CLOSE, 0, 0));
    ExpectOneCreditThenTheEnd(kestrevel);
}

// Posts and sends every swept message number with hostile parameters to every window of the
// program and to its thread. Every few dozen numbers the program must have caught up, be alive,
// show no box and not have run the tool; the first range that breaks it stops the sweep.
void Sweep(Kestrevel& kestrevel, const std::vector<HWND>& windows) {
    // Where the system copies what a parameter points to, it refuses the asynchronous send and
    // gets zeroed memory of ours instead (the copy is what the program sees, so no address of
    // ours reaches it either way).
    constexpr WPARAM kWParams[] = {0, 0x1234};
    constexpr LPARAM kLParams[] = {0x10, 0x00007FFFFFFF0000};
    std::vector<BYTE> zeroed(1 << 16);
    const DWORD thread = GetWindowThreadProcessId(kestrevel.main(), nullptr);
    const std::vector<UINT> messages = SweptMessages();
    size_t posts = 0, sends = 0, copied_sends = 0;
    const ULONGLONG start = GetTickCount64();
    for (size_t index = 0; index < messages.size(); ++index) {
        const UINT message = messages[index];
        for (WPARAM wParam : kWParams) {
            for (LPARAM lParam : kLParams) {
                for (HWND target : windows) {
                    posts += PostMessageW(target, message, wParam, lParam) ? 1 : 0;
                    if (SendNotifyMessageW(target, message, wParam, lParam)) {
                        ++sends;
                    } else if (GetLastError() == ERROR_MESSAGE_SYNC_ONLY) {
                        DWORD_PTR result = 0;
                        SendMessageTimeoutW(target, message, 0,
                                            reinterpret_cast<LPARAM>(zeroed.data()),
                                            SMTO_ABORTIFHUNG, 5000, &result);
                        ++copied_sends;
                    }
                }
                posts += PostThreadMessageW(thread, message, wParam, lParam) ? 1 : 0;
            }
        }
        if (index % 32 == 31 || index + 1 == messages.size()) {
            const bool answered = CaughtUp(windows[2]);
            const std::string range = Hex(messages[index - index % 32]) + " to " + Hex(message);
            ASSERT_EQ(WaitForSingleObject(kestrevel.process().handle(), 0), WAIT_TIMEOUT)
                << "Kestrevel ended during messages " << range;
            ASSERT_TRUE(answered) << "Kestrevel stopped answering during messages " << range;
            ASSERT_EQ(MessageBoxesOf(kestrevel.process().id()), 0u)
                << "a box appeared during messages " << range;
            ASSERT_EQ(kestrevel.Calls(), "") << "the tool ran during messages " << range;
        }
    }
    std::printf("swept %zu message numbers: %zu posts, %zu sends, %zu copied sends in %llu ms\n",
                messages.size(), posts, sends, copied_sends, GetTickCount64() - start);
}

TEST_F(MainWindow, NoMessageOfAnyNumberChangesAnything) {
    Kestrevel kestrevel(L"");
    ASSERT_TRUE(kestrevel.Ready());
    const std::vector<HWND> buttons = kestrevel.Buttons();
    // Every window of the runtime; the message-only window that the COM apartment makes belongs
    // to the system, which answers for it.
    HWND post_window = PostEventWindowOf(kestrevel.process().id());
    ASSERT_NE(post_window, nullptr);
    ASSERT_NO_FATAL_FAILURE(
        Sweep(kestrevel, {kestrevel.main(), buttons[0], buttons[1], post_window}));
    EXPECT_TRUE(IsWindow(buttons[0]) && IsWindow(buttons[1]) && IsWindow(post_window));

    // A real click still gives the exact verdict, and one close exactly one credit box.
    HWND verdict = kestrevel.Click(buttons[0]);
    ASSERT_NE(verdict, nullptr);
    EXPECT_EQ(driver::MessageBoxText(verdict), kEnabled);
    kestrevel.Acknowledge(verdict);
    EXPECT_NE(kestrevel.Calls().find("bootmenupolicy legacy"), std::string::npos);
    ASSERT_TRUE(driver::WaitForVisibility(kestrevel.main(), true, kWait));
    // The close comes while another program's window is in the foreground: that window must not
    // own the credit box.
    HWND elsewhere = CreateWindowExW(0, L"Static", L"elsewhere", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                     0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(driver::BringToFront(elsewhere));
    ASSERT_TRUE(PostMessageW(kestrevel.main(), WM_CLOSE, 0, 0));
    HWND credit = driver::WaitForWindow(kestrevel.process().id(), L"#32770", L"Info", kWait);
    ASSERT_NE(credit, nullptr);
    EXPECT_EQ(GetWindow(credit, GW_OWNER), nullptr) << "owned by another program's window";
    ExpectOneCreditThenTheEnd(kestrevel);
    DestroyWindow(elsewhere);
}
