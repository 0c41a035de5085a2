// On-demand measurements of the real program: start-up time to a visible, idle window against a
// hand-written program doing the same visible job and a minimal one-window program, and working
// set, handles and GUI objects over 100 switches.
#include "support/window_driver.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr DWORD kWait = 30000;

// Milliseconds from CreateProcess until the program's window is visible with its `buttons`
// buttons and its thread idle.
double TimeToIdleWindow(const std::wstring& program, const wchar_t* title, size_t buttons) {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    driver::ChildProcess child;
    if (!child.Start(L"\"" + program + L"\"")) {
        return -1;
    }
    // Looked for every millisecond: the driver's waits poll too coarsely for a timing.
    const ULONGLONG deadline = GetTickCount64() + kWait;
    bool complete = false;
    while (!complete && GetTickCount64() < deadline) {
        for (HWND window : driver::TopWindowsOf(child.id())) {
            complete = complete || (driver::TextOf(window) == title &&
                                    driver::ChildrenOf(window, L"Button").size() == buttons);
        }
        if (!complete) {
            Sleep(1);
        }
    }
    if (!complete) {
        return -1;
    }
    WaitForInputIdle(child.handle(), kWait);
    QueryPerformanceCounter(&end);
    // The measurement is over; the child is ended by its owner.
    return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct Usage {
    SIZE_T working_set;
    DWORD handles, gdi, user, windows;
};

Usage UsageOf(HANDLE process) {
    Usage usage{};
    PROCESS_MEMORY_COUNTERS counters{.cb = sizeof(counters)};
    if (GetProcessMemoryInfo(process, &counters, sizeof(counters))) {
        usage.working_set = counters.WorkingSetSize;
    }
    usage.handles = driver::HandleCountOf(process);
    usage.gdi = GetGuiResources(process, GR_GDIOBJECTS);
    usage.user = GetGuiResources(process, GR_USEROBJECTS);
    usage.windows = driver::WindowCountOf(GetProcessId(process));
    return usage;
}

void Print(const char* when, const Usage& usage) {
    std::printf("%-22s working set %7.1f KiB, handles %lu, GDI objects %lu, USER objects %lu, "
                "visible windows %lu\n",
                when, static_cast<double>(usage.working_set) / 1024.0, usage.handles, usage.gdi,
                usage.user, usage.windows);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const int rounds = argc > 1 ? _wtoi(argv[1]) : 10;
    const int switches = argc > 2 ? _wtoi(argv[2]) : 100;
    const std::wstring folder = driver::OwnFolder();
    const std::wstring kestrevel = driver::ProgramFile();
    const std::wstring minimal = folder + L"minimal_window.exe";
    const std::wstring same_job = folder + L"same_job_window.exe";

    // Alternated, so that all three see the same machine state.
    std::vector<double> kestrevel_times, minimal_times, same_job_times;
    for (int round = 0; round < rounds; ++round) {
        minimal_times.push_back(TimeToIdleWindow(minimal, L"Minimal", 0));
        same_job_times.push_back(TimeToIdleWindow(same_job, L"Same job", 2));
        kestrevel_times.push_back(TimeToIdleWindow(kestrevel, L"Kestrevel", 2));
    }
    const double k = Median(kestrevel_times), m = Median(minimal_times), j = Median(same_job_times);
    std::printf("start-up to an idle window with its buttons (median of %d): Kestrevel %.1f ms, "
                "same job by hand %.1f ms (ratio %.3f), minimal window %.1f ms (ratio %.3f)\n",
                rounds, k, j, j > 0 ? k / j : 0, m, m > 0 ? k / m : 0);

    driver::ChildProcess child;
    if (!child.Start(L"\"" + kestrevel + L"\"")) {
        return 1;
    }
    HWND main = driver::WaitForWindow(child.id(), nullptr, L"Kestrevel", kWait);
    if (!main) {
        return 1;
    }
    WaitForInputIdle(child.handle(), kWait);
    Sleep(500);
    const Usage at_start = UsageOf(child.handle());
    Print("after start:", at_start);
    const auto buttons = driver::WaitForChildren(main, L"Button", 2, kWait);
    Usage after_first{};
    for (int turn = 0; turn < switches; ++turn) {
        driver::WaitForVisibility(main, true, kWait);
        driver::BringToFront(main);
        driver::ClickCentre(buttons[turn % 2]);
        HWND verdict = driver::WaitForWindow(child.id(), L"#32770", L"Info", kWait);
        if (!verdict) {
            std::printf("no verdict at switch %d\n", turn);
            return 1;
        }
        driver::Acknowledge(verdict, kWait);
        if (turn == 0) {
            driver::WaitForVisibility(main, true, kWait);
            Sleep(200);
            after_first = UsageOf(child.handle());
        }
    }
    driver::WaitForVisibility(main, true, kWait);
    Sleep(500);
    Print("after 1 switch:", after_first);
    Print("after all switches:", UsageOf(child.handle()));
    std::printf("switches: %d\n", switches);
    return 0;
}
