#include "support/window_driver.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A copy of the program under its own name, so that Wine's per-program version applies to it.
std::wstring ProgramCopy(const std::wstring& name) {
    const std::wstring program = driver::ProgramFile();
    const std::wstring copy = driver::OwnFolder() + name;
    return CopyFileW(program.c_str(), copy.c_str(), FALSE) ? copy : std::wstring();
}

} // namespace

TEST(VersionGate, WindowsSevenGetsOnlyTheRefusalAndExitCodeZero) {
    if (!driver::RunningUnderWine()) {
        GTEST_SKIP() << "needs Wine's per-program version settings";
    }
    const std::wstring name = L"Kestrevel_win2008r2.exe";
    driver::WineVersionFor version(name, L"win2008r2"); // 6.1 workstation
    ASSERT_TRUE(version.applied());
    const std::wstring program = ProgramCopy(name);
    ASSERT_FALSE(program.empty());

    driver::ChildProcess kestrevel;
    ASSERT_TRUE(kestrevel.Start(L"\"" + program + L"\""));
    HWND box = driver::WaitForWindow(kestrevel.id(), L"#32770", L"Info", 20000);
    ASSERT_NE(box, nullptr) << "no refusal message";
    EXPECT_EQ(driver::MessageBoxText(box), L"You need Windows 8 or higher to use this program");
    EXPECT_TRUE(driver::MessageBoxHasIcon(box)) << "the refusal shows the information icon";
    EXPECT_EQ(driver::TopWindowsOf(kestrevel.id()).size(), 1u) << "the message is the only window";

    ASSERT_TRUE(driver::BringToFront(box));
    driver::PressKey(VK_RETURN);
    EXPECT_EQ(kestrevel.WaitForExit(20000), 0);
    DeleteFileW(program.c_str());
}

TEST(VersionGate, AServerOfTheSameVersionPasses) {
    if (!driver::RunningUnderWine()) {
        GTEST_SKIP() << "needs Wine's per-program version settings";
    }
    // On this Wine "win7" reports 6.1 with a server product type: Windows Server 2008 R2.
    const std::wstring name = L"Kestrevel_win7.exe";
    driver::WineVersionFor version(name, L"win7");
    ASSERT_TRUE(version.applied());
    const std::wstring program = ProgramCopy(name);
    ASSERT_FALSE(program.empty());
    {
        driver::ChildProcess kestrevel;
        ASSERT_TRUE(kestrevel.Start(L"\"" + program + L"\""));
        EXPECT_NE(driver::WaitForWindow(kestrevel.id(), nullptr, L"Kestrevel", 20000), nullptr);
        EXPECT_EQ(driver::WaitForWindow(kestrevel.id(), L"#32770", nullptr, 0), nullptr)
            << "no refusal";
    } // the child is ended here
    DeleteFileW(program.c_str());
}
