#include "support/window_driver.h"

#include <gtest/gtest.h>

#include <optional>
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

size_t MessageBoxesOf(DWORD process_id) {
    size_t boxes = 0;
    for (HWND top : driver::TopWindowsOf(process_id)) {
        boxes += driver::ClassOf(top) == L"#32770" ? 1 : 0;
    }
    return boxes;
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
    HWND credit = driver::WaitForWindow(kestrevel.process().id(), L"#32770", L"Info", kWait);
    ASSERT_NE(credit, nullptr);
    EXPECT_TRUE(driver::MessageBoxHasIcon(credit));
    EXPECT_FALSE(driver::MessageBoxText(credit).empty());
    EXPECT_TRUE(IsWindowVisible(main)) << "the window stays while the credit shows";
    EXPECT_EQ(MessageBoxesOf(kestrevel.process().id()), 1u) << "one credit box at a time";
    kestrevel.Acknowledge(credit);
    // A second credit box would keep the program from ending.
    EXPECT_EQ(kestrevel.process().WaitForExit(kWait), 0);
}

TEST_F(MainWindow, RefusedSwitchGivesTheFailureText) {
    Kestrevel kestrevel(L"denied");
    ASSERT_NE(kestrevel.main(), nullptr);
    const std::vector<HWND> buttons = kestrevel.Buttons();
    ASSERT_EQ(buttons.size(), 2u);
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
    HWND credit = driver::WaitForWindow(kestrevel.process().id(), L"#32770", L"Info", kWait);
    ASSERT_NE(credit, nullptr);
    kestrevel.Acknowledge(credit);
    EXPECT_EQ(kestrevel.process().WaitForExit(kWait), 0);
}

TEST_F(MainWindow, MessagesFromOtherProgramsChangeNothing) {
    Kestrevel kestrevel(L"");
    HWND main = kestrevel.main();
    ASSERT_NE(main, nullptr);
    const std::vector<HWND> buttons = kestrevel.Buttons();
    ASSERT_EQ(buttons.size(), 2u);

    // Another program forges clicks on button 0, with a made-up control and with the real one,
    // and a notification that carries an address of its own.
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), 0x1234));
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED),
                             reinterpret_cast<LPARAM>(buttons[0])));
    ASSERT_TRUE(PostMessageW(main, WM_NOTIFY, 0, 0x10));
    // A crash ends the program within a second or so (the test prefix shows no crash dialog).
    ASSERT_EQ(WaitForSingleObject(kestrevel.process().handle(), 2000), WAIT_TIMEOUT) << "alive";
    ASSERT_EQ(MessageBoxesOf(kestrevel.process().id()), 0u) << "no verdict";
    ASSERT_EQ(kestrevel.Calls(), "") << "the tool never ran";

    // A real click still works, exactly once.
    HWND verdict = kestrevel.Click(buttons[1]);
    ASSERT_NE(verdict, nullptr);
    EXPECT_EQ(driver::MessageBoxText(verdict), kDisabled);
    kestrevel.Acknowledge(verdict);
    EXPECT_EQ(kestrevel.Calls(),
              driver::Utf8(L"\"" + SystemFolder() +
                           L"\\bcdedit.exe\" /set {Default} bootmenupolicy standard") +
                  "\n");
    ASSERT_TRUE(driver::WaitForVisibility(main, true, kWait));

    // Two closes back to back: one credit, then the end.
    ASSERT_TRUE(PostMessageW(main, WM_CLOSE, 0, 0));
    ASSERT_TRUE(PostMessageW(main, WM_CLOSE, 0, 0));
    HWND credit = driver::WaitForWindow(kestrevel.process().id(), L"#32770", L"Info", kWait);
    ASSERT_NE(credit, nullptr);
    Sleep(300);
    EXPECT_EQ(MessageBoxesOf(kestrevel.process().id()), 1u);
    kestrevel.Acknowledge(credit);
    EXPECT_EQ(kestrevel.process().WaitForExit(kWait), 0);
}
