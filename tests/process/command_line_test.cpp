#include "runtime/process/internal/process.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The built command line, and whether its block has the size the rule gives.
struct Built {
    std::wstring text;
    size_t block_units;
};

Built Build(const wchar_t* path, const wchar_t* parameters) {
    wchar_t* line = Program_BuildCommandLine(path, parameters);
    if (!line) {
        return {L"<null>", 0};
    }
    Built built{line, HeapSize(Runtime_Heap(), 0, line) / sizeof(wchar_t)};
    Runtime_Free(line);
    return built;
}

std::wstring Folder(const wchar_t* path) {
    wchar_t buffer[MAX_PATH] = {L'?'};
    const wchar_t* folder = Program_ShellFolder(path, buffer);
    return folder ? std::wstring(folder) : L"<none>";
}

} // namespace

TEST(ProgramCommandLine, QuotesThePathAndAddsParametersAfterOneBlank) {
    // A path that begins with a quote is taken as it is.
    EXPECT_EQ(Build(L"\"C:\\Tools\\a b.exe\" /x", L"-q").text, L"\"C:\\Tools\\a b.exe\" /x -q");
    // Any other path is quoted, blanks or not.
    EXPECT_EQ(Build(L"C:\\Program Files\\tool.exe", L"/set x").text,
              L"\"C:\\Program Files\\tool.exe\" /set x");
    EXPECT_EQ(Build(L"tool.exe", L"a").text, L"\"tool.exe\" a");
    // No parameters: the quoted path alone, without a trailing blank.
    EXPECT_EQ(Build(L"C:\\t.exe", L"").text, L"\"C:\\t.exe\"");
    EXPECT_EQ(Build(L"C:\\t.exe", nullptr).text, L"\"C:\\t.exe\"");
    // A null or empty path gives two quotes.
    EXPECT_EQ(Build(nullptr, nullptr).text, L"\"\"");
    EXPECT_EQ(Build(L"", L"x").text, L"\"\" x");
    // Nothing inside is escaped: quotes and blanks pass unchanged, a trailing blank stays.
    EXPECT_EQ(Build(L"a\"b", L"\"q\" ").text, L"\"a\"b\" \"q\" ");
    EXPECT_EQ(Build(L"C:\\bcd.exe", L"/set {Default} bootmenupolicy ").text,
              L"\"C:\\bcd.exe\" /set {Default} bootmenupolicy ");
}

TEST(ProgramCommandLine, BlockHoldsPathParametersAndFourUnits) {
    EXPECT_EQ(Build(L"C:\\t.exe", L"abc").block_units, 8u + 3u + 4u);
    EXPECT_EQ(Build(nullptr, nullptr).block_units, 4u);
    // The longest case (unquoted path, parameters) fills the block exactly.
    const std::wstring path(3000, L'p');
    const std::wstring parameters(5000, L'q');
    const Built built = Build(path.c_str(), parameters.c_str());
    EXPECT_EQ(built.block_units, 8004u);
    EXPECT_EQ(built.text.size(), 8003u);
    EXPECT_EQ(built.text, L"\"" + path + L"\" " + parameters);
}

TEST(ProgramShellFolder, IsThePathUpToItsLastBackslash) {
    EXPECT_EQ(Folder(L"C:\\Docs\\sub\\note.txt"), L"C:\\Docs\\sub\\");
    EXPECT_EQ(Folder(L"C:\\note.txt"), L"C:\\");
    EXPECT_EQ(Folder(L"\\\\server\\share\\f.txt"), L"\\\\server\\share\\");
    EXPECT_EQ(Folder(L"C:\\Docs\\"), L"C:\\Docs\\");
    // The first character is not looked at: a path whose only backslash leads gets no folder.
    EXPECT_EQ(Folder(L"\\note.txt"), L"<none>");
    EXPECT_EQ(Folder(L"note.txt"), L"<none>");
    EXPECT_EQ(Folder(L"C:note.txt"), L"<none>");
    EXPECT_EQ(Folder(L""), L"<none>");
    EXPECT_EQ(Folder(nullptr), L"<none>");
    EXPECT_EQ(Folder(L"\\\\"), L"\\\\");
}
