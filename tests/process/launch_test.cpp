#include "process_helpers.h"
#include "runtime/process/internal/test_seams.h"
#include "support/scoped_seam.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

using process_test::HandleCount;
using process_test::RuntimeHeapInUse;
using process_test::ScopedVariable;
using process_test::StandinPath;
using process_test::TempFile;
using process_test::Utf8;

namespace {

// The runner is initialised once for the whole executable, as start-up does in the program.
class RunnerEnvironment : public testing::Environment {
  public:
    void SetUp() override {
        Program_Init();
        process_test::OwnConsole();
    }
    void TearDown() override { Program_End(); }
};
testing::Environment* const runner_environment =
    testing::AddGlobalTestEnvironment(new RunnerEnvironment);

constexpr uint32_t kToolFlags = LAUNCH_HIDE | LAUNCH_OBJECT | LAUNCH_READ_OUTPUT;

// Where the stand-in writes its command lines and start-up details, for one test.
struct StandinRecords {
    TempFile log{L"kvl"};
    TempFile info{L"kvi"};
    ScopedVariable log_setting{L"KV_STANDIN_LOG", log.path().c_str()};
    ScopedVariable info_setting{L"KV_STANDIN_INFO", info.path().c_str()};

    // Waits for the stand-in to have recorded `starts` starts.
    bool WaitForStarts(size_t starts, DWORD timeout_ms = 15000) const {
        const ULONGLONG deadline = GetTickCount64() + timeout_ms;
        while (Lines(info.Read()) < starts) {
            if (GetTickCount64() > deadline) {
                return false;
            }
            Sleep(20);
        }
        return true;
    }
    // How the stand-in's `index`-th start went: "show=<n> std=<0|1> console=<none|own|shared>".
    std::string Start(size_t index) const {
        std::istringstream lines(info.Read());
        std::string line;
        for (size_t i = 0; i <= index; ++i) {
            if (!std::getline(lines, line)) {
                return "<no start " + std::to_string(index) + ">";
            }
        }
        return line.substr(0, line.find(" cwd="));
    }
    static size_t Lines(const std::string& text) {
        size_t count = 0;
        for (char c : text) {
            count += c == '\n' ? 1 : 0;
        }
        return count;
    }
};

std::string QuotedStandin() {
    return '"' + Utf8(StandinPath()) + '"';
}

// A pipe maker that gives `pipes_left` pipes, then fails.
int pipes_left = 0;
BOOL WINAPI FewPipes(PHANDLE read_end, PHANDLE write_end, LPSECURITY_ATTRIBUTES attributes,
                     DWORD size) {
    if (pipes_left <= 0) {
        SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return FALSE;
    }
    --pipes_left;
    return CreatePipe(read_end, write_end, attributes, size);
}

ProgramObject* ObjectOf(intptr_t program) {
    return Program_Find(program);
}

// A document type whose open command is the stand-in, registered while the test runs so that
// a shell launch can be followed. Wine reads the classes from the machine's part of the
// registry only; Windows also from the user's.
class DocumentType {
  public:
    DocumentType() {
        const std::wstring command = L"\"" + StandinPath() + L"\" \"%1\"";
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            Set(root, L"Software\\Classes\\.kvdoc", L"KestrevelTest.Document");
            Set(root, L"Software\\Classes\\KestrevelTest.Document\\shell\\open\\command", command);
        }
    }
    ~DocumentType() {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            RegDeleteTreeW(root, L"Software\\Classes\\.kvdoc");
            RegDeleteTreeW(root, L"Software\\Classes\\KestrevelTest.Document");
        }
    }
    DocumentType(const DocumentType&) = delete;
    DocumentType& operator=(const DocumentType&) = delete;
    bool registered() const { return HasClass(L".kvdoc"); }

    static bool HasClass(const wchar_t* extension) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, extension, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(key);
        return true;
    }

  private:
    static void Set(HKEY root, const wchar_t* key, const std::wstring& value) {
        RegSetKeyValueW(root, key, nullptr, REG_SZ, value.c_str(),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
};

// A folder with a blank in its name holding one document.
class DocumentFolder {
  public:
    explicit DocumentFolder(const wchar_t* file_name) {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"kv shell " + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
        document_ = folder_ + L"\\" + file_name;
        HANDLE file = CreateFileW(document_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(file, "texte\r\n", 7, &written, nullptr);
        CloseHandle(file);
    }
    ~DocumentFolder() {
        DeleteFileW(document_.c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    DocumentFolder(const DocumentFolder&) = delete;
    DocumentFolder& operator=(const DocumentFolder&) = delete;
    const std::wstring& folder() const { return folder_; }
    const std::wstring& document() const { return document_; }

  private:
    std::wstring folder_;
    std::wstring document_;
};

} // namespace

TEST(ProgramLaunch, WithoutObjectReportsTheStartAndKeepsNothing) {
    StandinRecords records;
    ScopedVariable silent(L"KV_STANDIN_MODE", L"silent");
    const DWORD handles = HandleCount();
    const size_t heap = RuntimeHeapInUse();

    // Waited for: the child has run when the call returns.
    EXPECT_EQ(Program_Launch(StandinPath().c_str(), L"un", L"", LAUNCH_WAIT), 1);
    EXPECT_EQ(records.log.Read(), QuotedStandin() + " un\n");
    EXPECT_EQ(records.Start(0), "show=1 std=0 console=shared") << "shown, in our console";

    EXPECT_EQ(Program_Launch(StandinPath().c_str(), L"", L"", LAUNCH_WAIT | LAUNCH_HIDE), 1);
    EXPECT_EQ(records.log.Read(), QuotedStandin() + " un\n" + QuotedStandin() + "\n");
    EXPECT_EQ(records.Start(1), "show=0 std=0 console=own")
        << "hidden with no stream redirected: a new console of its own";

    // Stream flags without LAUNCH_OBJECT make no pipe: the child's streams are not redirected.
    EXPECT_EQ(Program_Launch(StandinPath().c_str(), L"", L"",
                             LAUNCH_WAIT | LAUNCH_HIDE | LAUNCH_READ_OUTPUT | LAUNCH_WRITE_INPUT |
                                 LAUNCH_READ_ERRORS),
              1);
    const std::string info = records.info.Read();
    EXPECT_EQ(StandinRecords::Lines(info), 3u);
    EXPECT_EQ(records.Start(2), "show=0 std=0 console=own") << info;

    // Flags 0 (the one-argument form): shown normally, not waited for, handle already closed.
    EXPECT_EQ(Program_Launch(StandinPath().c_str()), 1);
    EXPECT_EQ(HandleCount(), handles);
    EXPECT_EQ(RuntimeHeapInUse(), heap);
    EXPECT_TRUE(records.WaitForStarts(4));
    EXPECT_EQ(records.Start(3), "show=1 std=0 console=shared") << "flags 0: no new console";
}

TEST(ProgramLaunch, FailedStartGivesZeroAndLeavesNothingOpen) {
    const wchar_t* missing = L"C:\\nowhere\\missing tool.exe";
    const auto fail_every_way = [missing] {
        for (uint32_t flags : {kToolFlags, LAUNCH_OBJECT | LAUNCH_WRITE_INPUT | LAUNCH_READ_ERRORS,
                               LAUNCH_READ_OUTPUT, LAUNCH_CHAIN, LAUNCH_OBJECT, 0u}) {
            EXPECT_EQ(Program_Launch(missing, L"/x", L"", flags), 0) << flags;
        }
        EXPECT_EQ(Program_Launch(nullptr, nullptr, nullptr, kToolFlags), 0);
    };
    // The first shell call loads what the shell keeps for the rest of the process.
    fail_every_way();
    const DWORD handles = HandleCount();
    const size_t heap = RuntimeHeapInUse();
    fail_every_way();
    EXPECT_EQ(HandleCount(), handles);
    EXPECT_EQ(RuntimeHeapInUse(), heap);

    // A stream asked for whose pipe cannot be made starts nothing, not even a program that is
    // there; the pipes made before it are closed again.
    StandinRecords records;
    {
        const ScopedSeam pipes(Program_PipeMakerSeam(), FewPipes);
        for (const auto& [flags, given] :
             {std::pair{kToolFlags, 0},
              {LAUNCH_OBJECT | LAUNCH_WRITE_INPUT | LAUNCH_READ_OUTPUT, 1},
              {LAUNCH_OBJECT | LAUNCH_READ_OUTPUT | LAUNCH_READ_ERRORS, 1}}) {
            pipes_left = given;
            EXPECT_EQ(Program_Launch(StandinPath().c_str(), L"", L"", flags), 0) << flags;
        }
    }
    EXPECT_EQ(HandleCount(), handles);
    EXPECT_EQ(RuntimeHeapInUse(), heap);
    EXPECT_EQ(records.info.Read(), "") << "the stand-in never started";
}

TEST(ProgramLaunch, DocumentGoesToTheShellInItsOwnFolder) {
    DocumentType type;
    ASSERT_TRUE(type.registered());
    DocumentFolder place(L"rapport.kvdoc");
    StandinRecords records;
    ScopedVariable silent(L"KV_STANDIN_MODE", L"silent");

    // With a stream flag the shell is never tried, even though no pipe was made.
    EXPECT_EQ(Program_Launch(place.document().c_str(), L"", L"", LAUNCH_READ_OUTPUT), 0);
    EXPECT_EQ(Program_Launch(place.document().c_str(), L"", L"", LAUNCH_CHAIN | LAUNCH_WAIT), 0);
    EXPECT_EQ(records.log.Read(), "");

    // Without LAUNCH_OBJECT the result is 1. The shell keeps what it loads for the document
    // type from its first launch on, so the gauges start after it.
    EXPECT_EQ(Program_Launch(place.document().c_str(), L"", L"", LAUNCH_WAIT), 1);
    EXPECT_EQ(StandinRecords::Lines(records.log.Read()), 1u);
    const DWORD handles = HandleCount();
    const size_t heap = RuntimeHeapInUse();

    const intptr_t program = Program_Launch(place.document().c_str(), L"", L"",
                                            LAUNCH_OBJECT | LAUNCH_WAIT | LAUNCH_HIDE);
    ASSERT_NE(program, 0);
    ASSERT_NE(program, 1);
    const ProgramObject* object = ObjectOf(program);
    ASSERT_NE(object, nullptr);
    EXPECT_NE(object->process, nullptr);
    EXPECT_EQ(object->process_id, PROGRAM_SHELL_PROCESS_ID);
    EXPECT_EQ(object->input_pipe, nullptr);
    EXPECT_EQ(object->output_pipe, nullptr);
    EXPECT_EQ(object->error_pipe, nullptr);
    EXPECT_EQ(object->flags, LAUNCH_OBJECT | LAUNCH_WAIT | LAUNCH_HIDE);
    EXPECT_EQ(Program_IsRunning(program), 0) << "waited for, and no output pipe";
    EXPECT_EQ(Program_AvailableOutput(program), 0);
    RtStringOwner nothing(Program_ReadLine(program));
    EXPECT_STREQ(nothing.get(), L"");
    // When the shell hands the document to a program already running it gives no process
    // handle; such an object counts as ended, not as running for ever.
    ProgramObject* record = ObjectOf(program);
    CloseHandle(record->process);
    record->process = nullptr;
    EXPECT_EQ(Program_IsRunning(program), 0);
    Program_Release(program);

    // The shell started the document's program in the document's folder.
    const std::string log = records.log.Read();
    EXPECT_NE(log.find(Utf8(place.document())), std::string::npos) << log;
    EXPECT_NE(records.info.Read().find("cwd=" + Utf8(place.folder()) + "\n"), std::string::npos)
        << records.info.Read();

    // A working folder that is given wins.
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    EXPECT_EQ(Program_Launch(place.document().c_str(), L"", temp, LAUNCH_WAIT), 1);
    std::wstring temp_folder = temp;
    temp_folder.pop_back(); // the child reports its folder without the final backslash
    EXPECT_NE(records.info.Read().find("cwd=" + Utf8(temp_folder) + "\n"), std::string::npos)
        << records.info.Read();

    EXPECT_EQ(HandleCount(), handles);
    EXPECT_EQ(RuntimeHeapInUse(), heap);
}

TEST(ProgramLaunch, TextDocumentOpensThroughTheShell) {
    DocumentFolder place(L"notes.txt");
    const intptr_t program =
        Program_Launch(place.document().c_str(), L"", L"", LAUNCH_OBJECT | LAUNCH_HIDE);
    if (!DocumentType::HasClass(L".txt")) {
        // No program for text files (a bare Wine prefix): the shell fails, and so does the
        // launch.
        EXPECT_EQ(program, 0);
        return;
    }
    ASSERT_NE(program, 0);
    const ProgramObject* object = ObjectOf(program);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->process_id, PROGRAM_SHELL_PROCESS_ID);
    EXPECT_EQ(object->output_pipe, nullptr);
    // Whatever the shell started is ours to end.
    if (object->process) {
        TerminateProcess(object->process, 0);
        EXPECT_EQ(WaitForSingleObject(object->process, 10000), WAIT_OBJECT_0);
    }
    EXPECT_EQ(Program_IsRunning(program), 0);
    Program_Release(program);
    EXPECT_EQ(Program_IsValid(program), 0);
}

TEST(ProgramLaunch, PipesCarryInputOutputAndErrors) {
    StandinRecords records;
    ScopedVariable echo(L"KV_STANDIN_MODE", L"echo");
    ScopedVariable errors(L"KV_STANDIN_STDERR", L"attention\\r\\n");
    const DWORD handles = HandleCount();
    const uint32_t flags =
        LAUNCH_HIDE | LAUNCH_OBJECT | LAUNCH_WRITE_INPUT | LAUNCH_READ_OUTPUT | LAUNCH_READ_ERRORS;
    const intptr_t program = Program_Launch(StandinPath().c_str(), L"", L"", flags);
    ProgramObject* object = ObjectOf(program);
    ASSERT_NE(object, nullptr);
    ASSERT_NE(object->input_pipe, nullptr);
    ASSERT_NE(object->output_pipe, nullptr);
    ASSERT_NE(object->error_pipe, nullptr);
    EXPECT_NE(object->process_id, 0u);
    EXPECT_EQ(object->flags, flags);
    // The ends we keep are not inherited by later children, or their EOF would never come.
    for (HANDLE kept : {object->input_pipe, object->output_pipe, object->error_pipe}) {
        DWORD handle_flags = 0;
        EXPECT_TRUE(GetHandleInformation(kept, &handle_flags));
        EXPECT_EQ(handle_flags & HANDLE_FLAG_INHERIT, 0u);
    }

    DWORD written = 0;
    EXPECT_TRUE(WriteFile(object->input_pipe, "bonjour\r\nle monde\n", 18, &written, nullptr));
    CloseHandle(object->input_pipe); // the child sees the end of its input
    object->input_pipe = nullptr;
    EXPECT_EQ(process_test::ReadAllLines(program),
              (std::vector<std::wstring>{L"bonjour", L"le monde"}));

    std::string error_text(64, '\0');
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(object->error_pipe, error_text.data(), 64, &got, nullptr));
    error_text.resize(got);
    EXPECT_EQ(error_text, "attention\r\n");
    EXPECT_EQ(records.Start(0), "show=0 std=1 console=shared")
        << "hidden, but a redirected stream: no new console";

    Program_Release(program);
    EXPECT_EQ(HandleCount(), handles);
}

TEST(ProgramLaunch, ChainFeedsAnEarlierProgramsOutputToTheNext) {
    const DWORD handles = HandleCount();
    intptr_t sender = 0;
    intptr_t receiver = 0;
    {
        ScopedVariable output(L"KV_STANDIN_OUTPUT", L"un\\r\\ndeux\\n");
        sender = Program_Launch(StandinPath().c_str(), L"", L"", kToolFlags);
    }
    ASSERT_NE(Program_IsValid(sender), 0);
    {
        ScopedVariable echo(L"KV_STANDIN_MODE", L"echo");
        receiver =
            Program_Launch(StandinPath().c_str(), L"", L"", kToolFlags | LAUNCH_CHAIN, sender);
    }
    ASSERT_NE(Program_IsValid(receiver), 0);
    EXPECT_EQ(process_test::ReadAllLines(receiver), (std::vector<std::wstring>{L"un", L"deux"}));
    // The sender still owns its output pipe.
    DWORD handle_flags = 0;
    EXPECT_TRUE(GetHandleInformation(ObjectOf(sender)->output_pipe, &handle_flags));
    Program_Release(receiver);
    Program_Release(sender);

    // A null sender, a sender without an output pipe or a released one leave standard input
    // alone; a failed start still gives 0 without the shell.
    ScopedVariable silent(L"KV_STANDIN_MODE", L"silent");
    const intptr_t mute =
        Program_Launch(StandinPath().c_str(), L"", L"", LAUNCH_OBJECT | LAUNCH_HIDE | LAUNCH_WAIT);
    ASSERT_NE(Program_IsValid(mute), 0);
    for (intptr_t other : {intptr_t{0}, mute, sender}) {
        EXPECT_EQ(Program_Launch(L"C:\\nowhere\\x.exe", L"", L"", LAUNCH_CHAIN, other), 0);
    }
    Program_Release(mute);
    EXPECT_EQ(HandleCount(), handles);
}

TEST(ProgramLaunch, ChildInheritsOnlyItsOwnPipeEnds) {
    SECURITY_ATTRIBUTES inheritable{.nLength = sizeof(SECURITY_ATTRIBUTES), .bInheritHandle = TRUE};
    HANDLE unrelated = CreateEventW(&inheritable, TRUE, FALSE, nullptr);
    ASSERT_NE(unrelated, nullptr);
    ScopedVariable silent(L"KV_STANDIN_MODE", L"silent");
    ScopedVariable signal(L"KV_STANDIN_SIGNAL",
                          std::to_wstring(reinterpret_cast<uintptr_t>(unrelated)).c_str());

    // A child that inherits every inheritable handle can use the event: the probe works.
    std::wstring line = L"\"" + StandinPath() + L"\"";
    STARTUPINFOW startup{.cb = sizeof(STARTUPINFOW)};
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                               nullptr, nullptr, &startup, &started));
    WaitForSingleObject(started.hProcess, 15000);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    EXPECT_EQ(WaitForSingleObject(unrelated, 0), WAIT_OBJECT_0);
    ResetEvent(unrelated);

    // The tool's launch hands over its pipe ends and nothing else.
    const intptr_t program = Program_Launch(StandinPath().c_str(), L"", L"", kToolFlags);
    ASSERT_NE(Program_IsValid(program), 0);
    EXPECT_TRUE(process_test::ReadAllLines(program).empty());
    Program_Release(program);
    EXPECT_EQ(WaitForSingleObject(unrelated, 0), WAIT_TIMEOUT) << "the child had the event";
    CloseHandle(unrelated);
}

TEST(ProgramLaunch, ProtectHandleSwapsForAnUninheritableDuplicate) {
    SECURITY_ATTRIBUTES inheritable{.nLength = sizeof(SECURITY_ATTRIBUTES), .bInheritHandle = TRUE};
    HANDLE original = CreateEventW(&inheritable, TRUE, FALSE, nullptr);
    ASSERT_NE(original, nullptr);
    HANDLE handle = original;
    Program_ProtectHandle(&handle);
    EXPECT_NE(handle, original);
    DWORD handle_flags = 0;
    EXPECT_TRUE(GetHandleInformation(handle, &handle_flags));
    EXPECT_EQ(handle_flags & HANDLE_FLAG_INHERIT, 0u);
    // Same object: the duplicate sees what the original named.
    EXPECT_TRUE(SetEvent(handle));
    EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_OBJECT_0);
    CloseHandle(handle);

    // A handle that cannot be duplicated stays as it was.
    HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(closed);
    HANDLE kept = closed;
    Program_ProtectHandle(&kept);
    EXPECT_EQ(kept, closed);
}

TEST(ProgramRunner, HandleRegistryReleaseClosesTheHandle) {
    ObjectRegistry* registry = Program_HandleRegistry();
    ASSERT_NE(registry, nullptr);
    EXPECT_EQ(registry->growth_step, 4);
    EXPECT_EQ(registry->record_size, static_cast<int32_t>(sizeof(HandleObject)));
    auto* record = static_cast<HandleObject*>(Objects_Create(registry, 6));
    ASSERT_NE(record, nullptr);
    record->handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE handle = record->handle;
    registry->release(6);
    DWORD handle_flags = 0;
    EXPECT_FALSE(GetHandleInformation(handle, &handle_flags)) << "the handle is closed";
    EXPECT_EQ(Objects_Get(registry, 6), nullptr);
}
