// On-demand soak and benchmark of the program runner against the stand-in tool (not part of the
// test suite):
//   1. many launch / read / release cycles, successful and failing, with the handle count and
//      the runtime heap's bytes in use before and after;
//   2. Program_ReadLine throughput on the stand-in's large output;
//   3. the wall time of one PolicySwitch against a plain CreateProcess-and-wait of the same
//      tool.
// Usage: process_soak [cycles] [large bytes] [switch runs]
#include "app/app.h"
#include "process_helpers.h"
#include "standin/large_output.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

using process_test::ScopedVariable;

constexpr uint32_t kToolFlags = LAUNCH_HIDE | LAUNCH_OBJECT | LAUNCH_READ_OUTPUT;

double Seconds(LARGE_INTEGER start, LARGE_INTEGER stop) {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(stop.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

bool Cycle(bool succeed) {
    const std::wstring path = succeed ? process_test::StandinPath() : L"C:\\nowhere\\missing.exe";
    const intptr_t program = Program_Launch(path.c_str(), L"/enum", L"", kToolFlags);
    if (!program) {
        return !succeed;
    }
    const auto lines = process_test::ReadAllLines(program);
    Program_Release(program);
    return succeed && lines.size() == 1;
}

void SoakCycles(int cycles) {
    // One launch first, so that what the system loads once is not counted as a leak.
    Cycle(true);
    const DWORD handles_before = process_test::HandleCount();
    const size_t heap_before = process_test::RuntimeHeapInUse();
    int failures = 0;
    const LARGE_INTEGER start = Now();
    for (int i = 0; i < cycles; ++i) {
        failures += Cycle(i % 2 == 0) ? 0 : 1;
    }
    const double elapsed = Seconds(start, Now());
    std::printf("cycles: %d (half successful, half failing), %d unexpected results, %.1f s\n",
                cycles, failures, elapsed);
    std::printf("handles: before %lu, after %lu\n", handles_before, process_test::HandleCount());
    std::printf("runtime heap bytes in use: before %zu, after %zu\n", heap_before,
                process_test::RuntimeHeapInUse());
}

void ReadThroughput(size_t bytes) {
    const std::wstring size = std::to_wstring(bytes);
    ScopedVariable mode(L"KV_STANDIN_MODE", L"large");
    ScopedVariable amount(L"KV_STANDIN_BYTES", size.c_str());
    const std::string expected = standin::LargeOutput(bytes);

    const LARGE_INTEGER start = Now();
    const intptr_t program =
        Program_Launch(process_test::StandinPath().c_str(), L"", L"", kToolFlags);
    size_t line_count = 0;
    std::wstring text;
    text.reserve(bytes);
    while (Program_IsRunning(program)) {
        if (Program_AvailableOutput(program)) {
            RtStringOwner line(Program_ReadLine(program));
            text += line.get();
            text += L'\n';
            ++line_count;
        }
    }
    const double elapsed = Seconds(start, Now());
    Program_Release(program);

    std::wstring reference;
    for (char c : expected) {
        if (c != '\r') {
            reference += static_cast<wchar_t>(c);
        }
    }
    if (!reference.empty() && reference.back() != L'\n') {
        reference += L'\n';
    }
    std::printf("ReadLine: %zu bytes, %zu lines in %.2f s = %.2f MB/s, content %s\n", bytes,
                line_count, elapsed, bytes / elapsed / 1e6,
                text == reference ? "correct" : "WRONG");
}

double DirectRun(const std::wstring& tool, const std::wstring& parameters) {
    std::wstring command = L"\"" + tool + L"\" " + parameters;
    SECURITY_ATTRIBUTES inheritable{.nLength = sizeof(SECURITY_ATTRIBUTES), .bInheritHandle = TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    CreatePipe(&read_end, &write_end, &inheritable, 0);
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{.cb = sizeof(STARTUPINFOW),
                         .dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES,
                         .wShowWindow = SW_HIDE,
                         .hStdInput = GetStdHandle(STD_INPUT_HANDLE),
                         .hStdOutput = write_end,
                         .hStdError = GetStdHandle(STD_ERROR_HANDLE)};
    PROCESS_INFORMATION started{};
    const LARGE_INTEGER start = Now();
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                       nullptr, nullptr, &startup, &started)) {
        CloseHandle(write_end);
        write_end = nullptr;
        WaitForSingleObject(started.hProcess, INFINITE);
        CloseHandle(started.hProcess);
        CloseHandle(started.hThread);
    }
    const double elapsed = Seconds(start, Now());
    if (write_end) {
        CloseHandle(write_end);
    }
    CloseHandle(read_end);
    return elapsed;
}

void SwitchTiming(int runs, const wchar_t* delay_ms) {
    ScopedVariable delay(L"KV_STANDIN_DELAY_MS", delay_ms);
    std::vector<double> direct;
    std::vector<double> switched;
    int successes = 0;
    for (int i = 0; i < runs; ++i) {
        direct.push_back(DirectRun(App_State().tool_path, L"/set {Default} bootmenupolicy legacy"));
        const LARGE_INTEGER start = Now();
        successes += static_cast<int>(PolicySwitch(POLICY_LEGACY));
        switched.push_back(Seconds(start, Now()));
        Program_Release(App_State().program);
        App_State().program = 0;
    }
    const double plain = Median(direct);
    const double with_switch = Median(switched);
    std::printf("tool pausing %ls ms per line, %d runs (%d verdicts of success):\n"
                "  direct CreateProcess+wait: median %.1f ms, best %.1f ms\n"
                "  PolicySwitch:              median %.1f ms, best %.1f ms\n"
                "  difference of the medians %+.1f%%, of the best %+.1f%%\n",
                delay_ms, runs, successes, plain * 1e3,
                *std::min_element(direct.begin(), direct.end()) * 1e3, with_switch * 1e3,
                *std::min_element(switched.begin(), switched.end()) * 1e3,
                (with_switch / plain - 1) * 100,
                (*std::min_element(switched.begin(), switched.end()) /
                     *std::min_element(direct.begin(), direct.end()) -
                 1) *
                    100);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const int cycles = argc > 1 ? _wtoi(argv[1]) : 1000;
    const size_t large =
        argc > 2 ? static_cast<size_t>(_wtoi64(argv[2])) : standin::kLargeDefaultBytes;
    const int runs = argc > 3 ? _wtoi(argv[3]) : 21;

    Runtime_SetModule(GetModuleHandleW(nullptr));
    if (!Runtime_CreateHeap()) {
        return 2;
    }
    String_Init();
    Program_Init();

    {
        process_test::ToolPath standin(process_test::StandinPath());
        SoakCycles(cycles);
        ReadThroughput(large);
        SwitchTiming(runs, L"0");
        SwitchTiming(runs, L"100");
    }
    String_End();
    Runtime_DestroyHeap();
    return 0;
}
