#include "runtime/core/internal/core.h"
#include "support/window_driver.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr DWORD NT = VER_PLATFORM_WIN32_NT;
constexpr DWORD NINE_X = VER_PLATFORM_WIN32_WINDOWS;

struct Row {
    DWORD platform, major, minor;
    bool workstation;
    int64_t code;
};

// Copies the probe under a name of its own, gives that name a Windows version in Wine's
// per-program settings, runs it and returns the version code it reports (or -1).
int64_t CodeUnderSetting(const std::wstring& setting) {
    const std::wstring folder = driver::OwnFolder();
    const std::wstring probe = folder + L"os_version_probe.exe";
    const std::wstring exe_name = L"probe_" + setting + L".exe";
    const std::wstring copy = folder + exe_name;
    if (!CopyFileW(probe.c_str(), copy.c_str(), FALSE)) {
        return -1;
    }
    driver::WineVersionFor version(exe_name, setting);
    if (!version.applied()) {
        DeleteFileW(copy.c_str());
        return -1;
    }

    long code = -1;
    {
        driver::ChildProcess probe_run;
        if (probe_run.Start(L"\"" + copy + L"\"")) {
            code = probe_run.WaitForExit(30000);
        }
    }
    DeleteFileW(copy.c_str());
    return code;
}

} // namespace

TEST(OsVersion, DecisionTableGivesEveryRow) {
    const Row rows[] = {
        {NT, 3, 51, true, 5},      {NT, 3, 0, false, 5},      {NT, 4, 0, true, 20},
        {NT, 4, 9, false, 20},     {NT, 5, 0, true, 50},      {NT, 5, 0, false, 50},
        {NT, 5, 1, true, 60},      {NT, 5, 1, false, 60},     {NT, 5, 2, true, 60},
        {NT, 5, 2, false, 65},     {NT, 5, 3, true, 200},     {NT, 6, 0, true, 70},
        {NT, 6, 0, false, 75},     {NT, 6, 1, true, 80},      {NT, 6, 1, false, 85},
        {NT, 6, 2, true, 90},      {NT, 6, 2, false, 95},     {NT, 6, 3, true, 100},
        {NT, 6, 3, false, 105},    {NT, 6, 4, true, 200},     {NT, 10, 0, true, 110},
        {NT, 10, 0, false, 110},   {NT, 10, 1, true, 200},    {NT, 11, 0, true, 200},
        {NT, 0, 0, true, 200},     {NT, 2, 0, true, 200},     {NINE_X, 4, 0, true, 10},
        {NINE_X, 4, 10, true, 30}, {NINE_X, 4, 90, true, 40}, {NINE_X, 4, 3, true, 200},
        {0, 6, 1, true, 200},      {3, 10, 0, true, 200},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(OS_DecideVersionCode(row.platform, row.major, row.minor, row.workstation),
                  row.code)
            << "platform " << row.platform << " version " << row.major << "." << row.minor
            << (row.workstation ? " workstation" : " server");
    }
}

TEST(OsVersion, RealQueryAgreesWithTheSystem) {
    OSVERSIONINFOEXW info{};
    ASSERT_EQ(OS_GetVersionInfo(&info), 1);
    EXPECT_EQ(info.dwOSVersionInfoSize, sizeof(OSVERSIONINFOEXW));
    const int64_t code = OS_VersionCode();
    EXPECT_EQ(code,
              OS_DecideVersionCode(VER_PLATFORM_WIN32_NT, info.dwMajorVersion, info.dwMinorVersion,
                                   info.wProductType == VER_NT_WORKSTATION));
    EXPECT_NE(code, VERSION_UNKNOWN);
}

TEST(OsVersion, PerProgramWineSettingsGiveTheirCodes) {
    if (!driver::RunningUnderWine()) {
        GTEST_SKIP() << "per-program version settings are Wine's";
    }
    // What each setting reports on Wine 8.0 (not what its name suggests): win7 is a 6.1 server,
    // win2008r2 the 6.1 workstation that Windows 7 is.
    const struct {
        const wchar_t* setting;
        int64_t code;
    } settings[] = {
        {L"win10", 110},  {L"win81", 100}, {L"win8", 90},    {L"win7", 85},    {L"win2008r2", 80},
        {L"win2008", 75}, {L"vista", 70},  {L"win2003", 65}, {L"winxp64", 60}, {L"winxp", 60},
    };
    for (const auto& entry : settings) {
        EXPECT_EQ(CodeUnderSetting(entry.setting), entry.code)
            << "setting " << std::string(entry.setting, entry.setting + wcslen(entry.setting));
    }
}
