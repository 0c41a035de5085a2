#include "app/app.h"
#include "process_helpers.h"
#include "standin/large_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using process_test::HandleCount;
using process_test::RuntimeHeapInUse;
using process_test::ScopedVariable;
using process_test::StandinPath;

namespace {

constexpr uint32_t kToolFlags = LAUNCH_HIDE | LAUNCH_OBJECT | LAUNCH_READ_OUTPUT;
constexpr uint32_t kAllPipes = kToolFlags | LAUNCH_WRITE_INPUT | LAUNCH_READ_ERRORS;

// One launch, read and release of each kind; returns whether it went as expected.
bool Cycle(int kind) {
    switch (kind) {
    case 0: { // the tool's usual run
        const intptr_t program = Program_Launch(StandinPath().c_str(), L"/enum", L"", kToolFlags);
        const auto lines = process_test::ReadAllLines(program);
        Program_Release(program);
        return program && lines.size() == 1;
    }
    case 1: // a tool that is not there
        return Program_Launch(L"C:\\nowhere\\bcdedit.exe", L"/enum", L"", kAllPipes) == 0;
    case 2: { // the whole switch
        const int64_t result = PolicySwitch(POLICY_LEGACY);
        const intptr_t program = App_State().program;
        Program_Release(program);
        App_State().program = 0;
        return result == 1 && program;
    }
    default: { // all three pipes, released while the child may still run
        const intptr_t program = Program_Launch(StandinPath().c_str(), L"", L"", kAllPipes);
        Program_Release(program);
        return program != 0;
    }
    }
}

} // namespace

TEST(ProgramReliability, HundredCyclesLeaveNoHandleAndNoHeapBehind) {
    process_test::ToolPath standin(StandinPath());
    for (int kind = 0; kind < 4; ++kind) {
        Cycle(kind); // what the system loads once is not a leak
    }
    const DWORD handles = HandleCount();
    const size_t heap = RuntimeHeapInUse();
    const size_t position = String_Position();
    ASSERT_NE(handles, 0u) << "the handle gauge works";
    int unexpected = 0;
    for (int i = 0; i < 100; ++i) {
        unexpected += Cycle(i % 4) ? 0 : 1;
    }
    EXPECT_EQ(unexpected, 0);
    EXPECT_EQ(HandleCount(), handles);
    EXPECT_EQ(RuntimeHeapInUse(), heap);
    EXPECT_EQ(String_Position(), position);
}

TEST(ProgramReliability, TenMegabytesAreReadCompletely) {
    ScopedVariable mode(L"KV_STANDIN_MODE", L"large");
    const std::string expected = standin::LargeOutput(standin::kLargeDefaultBytes);
    const intptr_t program = Program_Launch(StandinPath().c_str(), L"", L"", kToolFlags);
    ASSERT_NE(Program_IsValid(program), 0);
    const std::vector<std::wstring> lines = process_test::ReadAllLines(program, 120000);
    Program_Release(program);

    // The same text cut at line feeds, carriage returns dropped.
    std::vector<std::wstring> reference(1);
    for (char c : expected) {
        if (c == '\n') {
            reference.emplace_back();
        } else if (c != '\r') {
            reference.back() += static_cast<wchar_t>(c);
        }
    }
    if (reference.back().empty()) {
        reference.pop_back();
    }
    ASSERT_EQ(lines.size(), reference.size());
    size_t longest = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        ASSERT_EQ(lines[i], reference[i]) << "line " << i;
        longest = std::max(longest, lines[i].size());
    }
    EXPECT_GT(longest, 4096u) << "lines longer than one buffer step were among them";
}
