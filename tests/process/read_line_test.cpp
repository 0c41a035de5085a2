#include "process_helpers.h"
#include "runtime/core/internal/test_seams.h"
#include "support/scoped_seam.h"
#include "standin/large_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

using process_test::ReadAllLines;
using process_test::ScopedVariable;
using process_test::StandinPath;
using Lines = std::vector<std::wstring>;

namespace {

constexpr uint32_t kToolFlags = LAUNCH_HIDE | LAUNCH_OBJECT | LAUNCH_READ_OUTPUT;

// The stand-in's escape form of any bytes.
std::wstring Escaped(const std::string& bytes) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text;
    for (unsigned char byte : bytes) {
        // Plain letters stay as they are, so that long outputs fit in a variable.
        if (byte >= 'a' && byte <= 'z') {
            text += static_cast<wchar_t>(byte);
            continue;
        }
        text += L"\\x";
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

// Starts the stand-in writing exactly `bytes` and returns its program object.
intptr_t LaunchWriting(const std::string& bytes, uint32_t extra_flags = 0) {
    ScopedVariable output(L"KV_STANDIN_OUTPUT", Escaped(bytes).c_str());
    return Program_Launch(StandinPath().c_str(), L"", L"", kToolFlags | extra_flags);
}

intptr_t LaunchMode(const wchar_t* mode, uint32_t extra_flags = 0) {
    ScopedVariable setting(L"KV_STANDIN_MODE", mode);
    return Program_Launch(StandinPath().c_str(), L"", L"", kToolFlags | extra_flags);
}

// Every line of the output, then the program object released.
Lines LinesOf(intptr_t program) {
    EXPECT_NE(Program_IsValid(program), 0);
    Lines lines = ReadAllLines(program);
    Program_Release(program);
    return lines;
}

// A line of `repeats` units (stand-in escapes) and its tail, read with `flags`, the stand-in
// pausing after `pause_at` bytes when that is not 0. Each line comes back as the number of its
// leading 'l' and what follows them, so that a failure does not print a megabyte.
Lines OneLine(const wchar_t* unit, size_t repeats, const wchar_t* tail, uint32_t flags = 0,
              size_t pause_at = 0) {
    ScopedVariable unit_setting(L"KV_STANDIN_UNIT", unit);
    ScopedVariable tail_setting(L"KV_STANDIN_TAIL", tail);
    ScopedVariable size(L"KV_STANDIN_BYTES", std::to_wstring(repeats).c_str());
    ScopedVariable pause(L"KV_STANDIN_PAUSE_AT",
                         pause_at ? std::to_wstring(pause_at).c_str() : nullptr);
    Lines lines = LinesOf(LaunchMode(L"one-line", flags));
    for (std::wstring& line : lines) {
        const size_t letters = std::min(line.find_first_not_of(L'l'), line.size());
        line = std::to_wstring(letters) + L"l+" + line.substr(letters);
    }
    return lines;
}

void WaitForEnd(intptr_t program) {
    const ProgramObject* object = Program_Find(program);
    ASSERT_NE(object, nullptr);
    ASSERT_EQ(WaitForSingleObject(object->process, 15000), WAIT_OBJECT_0);
}

} // namespace

TEST(ProgramReadLine, SplitsAtLineFeedsAndDropsCarriageReturns) {
    const size_t position = String_Position();
    const intptr_t program = LaunchWriting("a\r\nb\rc\n\nd\r\r\n\rlast");
    ASSERT_NE(Program_IsValid(program), 0);
    EXPECT_EQ(ReadAllLines(program), (Lines{L"a", L"bc", L"", L"d", L"last"}));
    // Drained: the end of the output gives the empty string at once.
    {
        process_test::Watchdog watchdog(&program, 5000);
        RtStringOwner after(Program_ReadLine(program));
        EXPECT_STREQ(after.get(), L"");
        EXPECT_EQ(watchdog.fault(), nullptr);
    }
    EXPECT_EQ(Program_IsRunning(program), 0);
    EXPECT_EQ(String_Position(), position) << "a string result gives the workspace back";
    Program_Release(program);
}

TEST(ProgramReadLine, LongLinesComeBackWhole) {
    Lines lines = LinesOf(LaunchMode(L"long-line"));
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_EQ(lines[0].size(), 9005u);
    for (size_t i = 0; i < 9000; ++i) {
        ASSERT_EQ(lines[0][i], static_cast<wchar_t>(L'A' + i % 26)) << i;
    }
    EXPECT_EQ(lines[0].substr(9000), L" ussi");

    // Beyond the longest line the line comes in pieces, and nothing of it is lost.
    const size_t longest = PROGRAM_LONGEST_LINE;
    const std::wstring whole = std::to_wstring(longest) + L"l+";
    EXPECT_EQ(OneLine(L"l", longest + 5, L"\\n"), (Lines{whole, L"5l+"}));
    // A piece takes the line end right behind it: a bare line feed, and one that the child
    // writes only later. No line appears that the child did not write.
    EXPECT_EQ(OneLine(L"l", longest, L"\\nnext\\n"), (Lines{whole, L"0l+next"}));
    EXPECT_EQ(OneLine(L"l", longest, L"\\n", 0, longest), (Lines{whole}));
    EXPECT_EQ(OneLine(L"l", longest, L"x\\n", 0, longest), (Lines{whole, L"0l+x"}));
    // The unit read to see that the line goes on is output that still waits, also when it is
    // the last one the child wrote.
    EXPECT_EQ(OneLine(L"l", longest, L"x"), (Lines{whole, L"0l+x"}));
    // A piece never ends inside a character: a UTF-8 sequence or a surrogate pair that its end
    // would cut stays whole in it.
    const std::wstring cut = std::to_wstring(longest - 1) + L"l+";
    EXPECT_EQ(OneLine(L"l", longest - 1, L"\\xF0\\x9F\\x98\\x80\\n"), (Lines{cut + L"\U0001F600"}));
    EXPECT_EQ(OneLine(L"l\\x00", longest - 1, L"\\x3D\\xD8\\x00\\xDE\\n\\x00", LAUNCH_TEXT_UTF16),
              (Lines{cut + L"\U0001F600"}));

    // Around the buffer's growth step, with carriage returns that must not count.
    const Lines lines_around = LinesOf(LaunchMode(L"boundary-lines"));
    ASSERT_EQ(lines_around.size(), std::size(standin::kBoundaryLengths));
    for (size_t i = 0; i < lines_around.size(); ++i) {
        EXPECT_EQ(lines_around[i].size(), standin::kBoundaryLengths[i]);
        EXPECT_EQ(lines_around[i].find_first_not_of(L'x'), std::wstring::npos);
    }
}

TEST(ProgramReadLine, OutputDrainsWhenTheHeapHasNoRoomForALine) {
    const intptr_t program = LaunchWriting("un\r\ndeux\n" + std::string(4095, 'x') + "\r\n" +
                                           std::string(5000, 'x') + "\n");
    ASSERT_NE(Program_IsValid(program), 0);
    // A heap of one page cannot give the line buffer; the reader must still take the output, or
    // a caller polling for it would wait for ever.
    HANDLE tiny = HeapCreate(0, 0x1000, 0x1000);
    ASSERT_NE(tiny, nullptr);
    Lines lines;
    {
        const ScopedSeam heap(Runtime_HeapSeam(), tiny);
        lines = ReadAllLines(program, 10000);
    }
    HeapDestroy(tiny);
    EXPECT_EQ(Program_IsRunning(program), 0) << "the output drained";
    // Pieces of the size of the reader's reserve; a line of exactly that size stays one line.
    std::vector<size_t> lengths;
    for (const std::wstring& line : lines) {
        lengths.push_back(line.size());
    }
    EXPECT_EQ(lengths, (std::vector<size_t>{2, 4, 4095, 4095, 905}));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], L"un");
    Program_Release(program);
}

TEST(ProgramReadLine, InvalidBytesBecomeReplacementCharacters) {
    // Under the default format a byte that is not UTF-8 neither ends nor cuts the line.
    EXPECT_EQ(LinesOf(LaunchMode(L"invalid-utf8")), (Lines{L"ab\uFFFD\uFFFDcd\uFFFD(\uFFFDussi"}));
    // What a French console tool writes in its OEM code page keeps its ASCII letters only.
    EXPECT_EQ(LinesOf(LaunchMode(L"success-fr")), (Lines{L"L'op\uFFFDration a r\uFFFDussi."}));
    EXPECT_EQ(LinesOf(LaunchWriting("r\xC3\xA9ussi \xE2\x82\xAC\n", LAUNCH_TEXT_UTF8)),
              (Lines{L"r\u00e9ussi \u20ac"}));
}

TEST(ProgramReadLine, TextFormatsComeFromTheFlags) {
    EXPECT_EQ(LinesOf(LaunchMode(L"utf16", LAUNCH_TEXT_UTF16)),
              (Lines{L"Op\u00e9ration r\u00e9ussie", L"\u20ac"}));
    // A lone odd byte at the end of UTF-16 output is lost.
    EXPECT_EQ(LinesOf(LaunchWriting(std::string("A\0\r\0\n\0B", 7), LAUNCH_TEXT_UTF16)),
              (Lines{L"A", L""}));
    {
        // A pause after the first line feed byte splits the unit "\n\0" across two writes; the
        // reader completes it instead of losing a byte and misreading every unit after it.
        ScopedVariable delay(L"KV_STANDIN_DELAY_MS", L"300");
        EXPECT_EQ(LinesOf(LaunchWriting(std::string("A\0\n\0B\0\n\0", 8), LAUNCH_TEXT_UTF16)),
                  (Lines{L"A", L"B"}));
    }
    // The first matching flag wins: UTF-8 before UTF-16, ANSI before both.
    EXPECT_EQ(LinesOf(LaunchWriting("\xC3\xA9\n", LAUNCH_TEXT_UTF8 | LAUNCH_TEXT_UTF16)),
              (Lines{L"\u00e9"}));

    const std::string ansi = "caf\xE9\r\n\r\nx";
    std::wstring cafe = L"caf\u00e9";
    if (GetACP() != 1252) {
        wchar_t converted[8] = {};
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), 4, converted, 8);
        cafe = converted;
    }
    EXPECT_EQ(LinesOf(LaunchWriting(ansi, LAUNCH_TEXT_ANSI | LAUNCH_TEXT_UTF16)),
              (Lines{cafe, L"", L"x"}));
}

TEST(ProgramState, EndedChildRunsUntilItsOutputIsRead) {
    const intptr_t program = LaunchWriting("x\ny\n");
    WaitForEnd(program);
    EXPECT_EQ(Program_IsRunning(program), 1) << "ended, but four bytes wait";
    EXPECT_EQ(Program_AvailableOutput(program), 4);
    RtStringOwner first(Program_ReadLine(program));
    EXPECT_STREQ(first.get(), L"x");
    EXPECT_EQ(Program_AvailableOutput(program), 2) << "nothing after the line feed was taken";
    EXPECT_EQ(Program_IsRunning(program), 1);
    RtStringOwner second(Program_ReadLine(program));
    EXPECT_STREQ(second.get(), L"y");
    EXPECT_EQ(Program_IsRunning(program), 0);
    EXPECT_EQ(Program_AvailableOutput(program), 0);
    Program_Release(program);

    // A child that is still at work is running, output or not.
    ScopedVariable delay(L"KV_STANDIN_DELAY_MS", L"600");
    const intptr_t busy = LaunchMode(L"silent");
    EXPECT_EQ(Program_IsRunning(busy), 1);
    EXPECT_EQ(Program_AvailableOutput(busy), 0);
    WaitForEnd(busy);
    EXPECT_EQ(Program_IsRunning(busy), 0);
    Program_Release(busy);
}

TEST(ProgramState, ValidityAndRelease) {
    EXPECT_EQ(Program_IsValid(0), 0);
    EXPECT_EQ(Program_IsValid(1), 0);
    // The launch results 0 and 1 are not objects: nothing is read through them.
    EXPECT_EQ(Program_IsRunning(1), 0);
    EXPECT_EQ(Program_AvailableOutput(0), 0);
    RtStringOwner none(Program_ReadLine(1));
    EXPECT_STREQ(none.get(), L"");
    Program_Release(1);

    // An object without an output pipe reads as empty at once.
    const intptr_t quiet =
        Program_Launch(StandinPath().c_str(), L"", L"", LAUNCH_OBJECT | LAUNCH_HIDE | LAUNCH_WAIT);
    EXPECT_EQ(Program_IsValid(quiet), quiet);
    EXPECT_EQ(Program_AvailableOutput(quiet), 0);
    RtStringOwner empty(Program_ReadLine(quiet));
    EXPECT_STREQ(empty.get(), L"");
    EXPECT_EQ(Program_IsRunning(quiet), 0);

    const intptr_t other = LaunchMode(L"success-en");
    EXPECT_EQ(Program_IsValid(other), other);
    Program_Release(quiet);
    EXPECT_EQ(Program_IsValid(quiet), 0);
    EXPECT_EQ(Program_IsValid(other), other) << "releasing one object leaves the others";
    Program_Release(quiet); // a second release does nothing
    EXPECT_EQ(Program_IsRunning(quiet), 0);
    EXPECT_EQ(LinesOf(other), (Lines{L"The operation completed successfully."}));
    EXPECT_EQ(Program_IsValid(other), 0);
}
