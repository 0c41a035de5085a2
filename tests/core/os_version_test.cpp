#include "runtime/core/internal/test_seams.h"
#include "support/scoped_seam.h"
#include "support/window_driver.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

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
int64_t CodeUnderSetting(const std::wstring& setting, const std::wstring& arguments = L"") {
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
        if (probe_run.Start(L"\"" + copy + L"\" " + arguments)) {
            code = probe_run.WaitForExit(30000);
        }
    }
    DeleteFileW(copy.c_str());
    return code;
}

// Stand-ins for RtlGetVersion: one that reports `reported`, one that fails.
OSVERSIONINFOEXW reported{};
LONG WINAPI ReportedVersion(OSVERSIONINFOEXW* record) {
    *record = reported;
    return 0;
}
LONG WINAPI FailedVersion(OSVERSIONINFOEXW*) {
    return static_cast<LONG>(0xC0000001); // STATUS_UNSUCCESSFUL
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

TEST(OsVersion, WithoutRtlGetVersionTheVersionComesFromGetVersionEx) {
    // GetVersionExW stops at 6.2 for a program that declares no newer system, as this one.
    OSVERSIONINFOEXW own{.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW)};
    ASSERT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&own)));
    const int64_t from_get_version_ex = OS_DecideVersionCode(
        NT, own.dwMajorVersion, own.dwMinorVersion, own.wProductType == VER_NT_WORKSTATION);
    ScopedSeam lookup(OS_RtlVersionLookupSeam(), []() -> RtlGetVersionProc { return nullptr; });
    OSVERSIONINFOEXW info{.dwMajorVersion = 7};
    EXPECT_EQ(OS_GetVersionInfo(&info), 0) << "not found";
    EXPECT_EQ(info.dwMajorVersion, 0u) << "the record is zeroed all the same";
    EXPECT_EQ(info.dwOSVersionInfoSize, sizeof(OSVERSIONINFOEXW));
    EXPECT_EQ(OS_VersionCode(), from_get_version_ex) << "not found: GetVersionExW decides";
    OS_RtlVersionLookupSeam() = []() -> RtlGetVersionProc { return FailedVersion; };
    EXPECT_EQ(OS_VersionCode(), from_get_version_ex) << "failed: GetVersionExW decides";
    // Found, its record decides, workstation or server alike.
    OS_RtlVersionLookupSeam() = []() -> RtlGetVersionProc { return ReportedVersion; };
    for (const auto& [major, minor, product, code] :
         {std::tuple{6u, 1u, 3, 85}, {10u, 0u, 1, 110}, {11u, 0u, 1, 200}}) {
        reported = {.dwMajorVersion = major,
                    .dwMinorVersion = minor,
                    .wProductType = static_cast<BYTE>(product)};
        EXPECT_EQ(OS_VersionCode(), code) << major << "." << minor;
    }
}

TEST(OsVersion, PerProgramWineSettingsGiveTheirCodes) {
    if (!driver::RunningUnderWine()) {
        GTEST_SKIP() << "per-program version settings are Wine's";
    }
    // What each setting reports on Wine 8.0 (not what its name suggests): win7 is a 6.1 server,
    // win2008r2 the 6.1 workstation that Windows 7 is. Without RtlGetVersion (0: not tried),
    // GetVersionExW gives the version, at most 6.2 for this probe, and the extended record tells
    // a server.
    const struct {
        const wchar_t* setting;
        int64_t code;
        int64_t without_rtl;
    } settings[] = {
        {L"win10", 110, 90},    {L"win81", 100, 0},   {L"win8", 90, 0},  {L"win7", 85, 85},
        {L"win2008r2", 80, 80}, {L"win2008", 75, 75}, {L"vista", 70, 0}, {L"win2003", 65, 0},
        {L"winxp64", 60, 0},    {L"winxp", 60, 0},
    };
    for (const auto& entry : settings) {
        const std::string name(entry.setting, entry.setting + wcslen(entry.setting));
        EXPECT_EQ(CodeUnderSetting(entry.setting), entry.code) << "setting " << name;
        if (entry.without_rtl) {
            EXPECT_EQ(CodeUnderSetting(entry.setting, L"no-rtl"), entry.without_rtl)
                << "setting " << name << " without RtlGetVersion";
        }
    }
}
