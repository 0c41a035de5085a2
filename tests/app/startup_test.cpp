#include "app/test_seams.h"
#include "runtime/process/process.h"
#include "runtime/gui/internal/events.h"
#include "runtime/gui/internal/font.h"
#include "runtime/gui/internal/gadgets.h"
#include "runtime/gui/internal/window_records.h"
#include "support/scoped_seam.h"
#include "support/window_driver.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

// The fixed orders of the libraries' starts and ends: the imaging libraries' steps are not
// built, and the string workspace ends after the last library.
using Order = std::vector<std::pair<AppLibraryStep, std::string>>;
#define STEP(name) Order::value_type(name, #name)
const Order kStartOrder = {STEP(String_Init),  STEP(Map_Init),
                           STEP(Event_Init),   STEP(Tls_Init),
                           STEP(Font_Init),    STEP(Memory_Init),
                           STEP(Window_Init),  STEP(Gadget_Init),
                           STEP(Program_Init), STEP(App_InitCommonControlsAndCom)};
const Order kShutdownOrder = {STEP(Program_End), STEP(Gadget_End), STEP(Window_End), STEP(Font_End),
                              STEP(Event_End),   STEP(Memory_End), STEP(String_End)};
#undef STEP

std::vector<std::string> steps_seen;

void NoteStep(AppLibraryStep step) {
    std::string name = "an unknown step";
    for (const Order* order : {&kStartOrder, &kShutdownOrder}) {
        for (const auto& [known, known_name] : *order) {
            name = known == step ? known_name : name;
        }
    }
    steps_seen.push_back(name);
}

std::vector<std::string> NamesOf(const Order& order, const Order& then = {}) {
    std::vector<std::string> names;
    for (const Order* part : {&order, &then}) {
        for (const auto& step : *part) {
            names.push_back(step.second);
        }
    }
    return names;
}

// What the libraries are while the refusal is up, every one of them started: the post-event
// window, the registries, the support libraries, the apartment; and a window with a button that
// shutdown must close.
struct WhileRefused {
    HWND post_window, window, button;
};
WhileRefused while_refused{};
void LookAtTheLibraries() {
    HWND post_window = Event_PostWindow();
    EXPECT_TRUE(IsWindow(post_window));
    EXPECT_FALSE(IsWindowVisible(post_window)) << "the post-event window is never shown";
    EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, L"PostEventClass", nullptr), post_window)
        << "a message-only window, which no enumeration of the desktop finds";
    EXPECT_NE(Window_Registry(), nullptr);
    EXPECT_NE(Gadget_Registry(), nullptr);
    EXPECT_NE(Memory_Heap(), nullptr);
    EXPECT_NE(Tls_Slot(), TLS_OUT_OF_INDEXES);
    EXPECT_GT(Font_ScreenDpiY(), 0);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE) << "the thread is already an apartment";
    CoUninitialize();
    const auto window = reinterpret_cast<HWND>(Window_Open(
        0, 100, 100, 250, 70, L"Kestrevel", WS_CAPTION | WS_SYSMENU | WINDOW_CENTER_ON_SCREEN));
    const auto button = reinterpret_cast<HWND>(Button_Create(0, 1, 1, 248, 30, L"A"));
    EXPECT_NE(window, nullptr);
    EXPECT_NE(button, nullptr);
    while_refused = {post_window, window, button};
}

// Plays the user while the program runs: looks at the libraries at the first message box, notes
// each box and closes it.
std::vector<std::wstring> boxes;
size_t steps_before_box = 0;
void CALLBACK PlayTheUser(HWND, UINT, UINT_PTR, DWORD) {
    for (HWND window : driver::TopWindowsOf(GetCurrentProcessId())) {
        if (driver::ClassOf(window) == L"#32770") {
            if (boxes.empty()) {
                steps_before_box = steps_seen.size();
                LookAtTheLibraries();
            }
            boxes.push_back(driver::MessageBoxText(window));
            EndDialog(window, IDOK);
        }
    }
}

// The test runner made a workspace of its own; the program's start-up makes the real one.
void EndTheRunnersWorkspace() {
    AppState& state = App_State();
    String_Free(state.tool_path);
    String_Free(state.argument_prefix);
    String_Free(state.tool_folder);
    state.tool_path = state.argument_prefix = state.tool_folder = nullptr;
    String_End();
}

} // namespace

TEST(Startup, VersionGateRefusesWindowsSevenAndOlder) {
    // Windows 7 is the newest refused, Server 2008 R2 the oldest let through, and a version the
    // table does not know passes.
    EXPECT_FALSE(App_VersionGatePasses(80));
    EXPECT_TRUE(App_VersionGatePasses(85));
    EXPECT_TRUE(App_VersionGatePasses(200));
}

TEST(Startup, ToolPathIsInTheSystemFolderWhateverTheEnvironmentSays) {
    AppState& state = App_State();
    RtStringOwner saved(Env_Get(L"SystemRoot"));
    wchar_t system_folder[MAX_PATH] = {};
    ASSERT_NE(GetSystemDirectoryW(system_folder, MAX_PATH), 0u);
    const std::wstring tool = std::wstring(system_folder) + L"\\bcdedit.exe";

    for (const wchar_t* system_root :
         {L"D:\\Win dows", L"", static_cast<const wchar_t*>(nullptr)}) {
        if (system_root) {
            Env_Set(L"SYSTEMROOT", system_root);
        } else {
            Env_Unset(L"systemroot");
        }
        App_BuildStrings();
        EXPECT_EQ(std::wstring(state.tool_path), tool) << (system_root ? system_root : L"unset");
    }
    EXPECT_STREQ(state.argument_prefix, L"/set {Default} bootmenupolicy ");

    Env_Set(L"systemroot", saved.get());
}

TEST(Startup, LibrariesComeFromTheSystemFolderOnly) {
    // A library planted beside the program (a copy of any module will do).
    const std::wstring planted = driver::OwnFolder() + L"kv_planted.dll";
    ASSERT_TRUE(CopyFileW(driver::StandinFile().c_str(), planted.c_str(), FALSE));
    EXPECT_EQ(Runtime_LoadSystemLibrary(L"kv_planted.dll"), nullptr);
    HMODULE found = LoadLibraryW(L"kv_planted.dll");
    EXPECT_NE(found, nullptr) << "a plain search finds what lies beside the program";
    FreeLibrary(found);

    Runtime_LockDllSearch();
    EXPECT_EQ(LoadLibraryW(L"kv_planted.dll"), nullptr) << "not even a plain search, once locked";
    DeleteFileW(planted.c_str());
}

// A refused start runs the whole start-up and the whole shutdown, as a normal one does; the
// message comes between them.
TEST(Startup, LibrariesComeUpAndShutdownTakesThemDownAgainEvenAfterARefusal) {
    AppState& state = App_State();
    EndTheRunnersWorkspace();
    steps_seen.clear();
    boxes.clear();
    {
        const ScopedSeam watcher(App_StepWatcherSeam(), NoteStep);
        const ScopedSeam windows_seven(App_VersionLookupSeam(), []() -> int64_t { return 80; });
        const UINT_PTR user = SetTimer(nullptr, 0, 50, PlayTheUser);
        App_Run();
        KillTimer(nullptr, user);
    }
    EXPECT_EQ(boxes,
              std::vector<std::wstring>{L"You need Windows 8 or higher to use this program"});
    EXPECT_EQ(steps_before_box, kStartOrder.size()) << "the message comes after start-up";
    EXPECT_EQ(steps_seen, NamesOf(kStartOrder, kShutdownOrder))
        << "every library is started and ended, in order";
    // The window library closed the still open window with its button, the event queue took its
    // window and class away, and the heaps of the memory library and the workspace are gone.
    EXPECT_FALSE(IsWindow(while_refused.window));
    EXPECT_FALSE(IsWindow(while_refused.button));
    EXPECT_EQ(Objects_Get(Window_Registry(), 0), nullptr);
    EXPECT_EQ(Objects_Get(Gadget_Registry(), 0), nullptr);
    EXPECT_FALSE(IsWindow(while_refused.post_window));
    WNDCLASSEXW post_class{.cbSize = sizeof(WNDCLASSEXW)};
    EXPECT_FALSE(GetClassInfoExW(GetModuleHandleW(nullptr), L"PostEventClass", &post_class));
    EXPECT_EQ(Memory_Heap(), nullptr);
    EXPECT_EQ(String_Capacity(), 0u);
    EXPECT_EQ(state.tool_path, nullptr);
    String_Init(); // for the tests that follow
}
