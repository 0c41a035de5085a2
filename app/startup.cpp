#include "app/test_seams.h"
#include "runtime/gui/gui.h"
#include "runtime/process/process.h"

#include <objbase.h>

namespace {

AppState app_state{};
AppStepWatcher step_watcher = nullptr;
VersionLookup version_lookup = OS_VersionCode;

constexpr wchar_t kToolName[] = L"\\bcdedit.exe";
constexpr wchar_t kArgumentPrefix[] = L"/set {Default} bootmenupolicy ";
constexpr wchar_t kTooOldText[] = L"You need Windows 8 or higher to use this program";

} // namespace

void App_InitCommonControlsAndCom() {
    Gadget_InitCommonControls();
    // Makes this thread a single-threaded apartment for the life of the process.
    const HRESULT joined = CoInitialize(nullptr);
    (void)joined;
}

namespace {

// The start-up order. Steps 7 to 11 (vector drawing, image codecs, BMP codec, image registry
// and image blending) belong to the imaging libraries, which nothing here uses.
constexpr AppLibraryStep kInitSteps[] = {
    String_Init,                  // 1
    Map_Init,                     // 2
    Event_Init,                   // 3
    Tls_Init,                     // 4
    Font_Init,                    // 5
    Memory_Init,                  // 6
    Window_Init,                  // 12
    Gadget_Init,                  // 13
    Program_Init,                 // 14
    App_InitCommonControlsAndCom, // 15
};

// The shutdown order, and the string workspace after it. Steps 4 to 6 belong to the imaging
// libraries; step 9, map support, has nothing to end.
constexpr AppLibraryStep kEndSteps[] = {
    Program_End, // 1
    Gadget_End,  // 2
    Window_End,  // 3
    Font_End,    // 7
    Event_End,   // 8
    Memory_End,  // 10
    String_End,
};

template <size_t count> void RunSteps(const AppLibraryStep (&steps)[count]) {
    for (AppLibraryStep step : steps) {
        if (step_watcher) {
            step_watcher(step);
        }
        step();
    }
}

} // namespace

AppState& App_State() {
    return app_state;
}

AppStepWatcher& App_StepWatcherSeam() {
    return step_watcher;
}

VersionLookup& App_VersionLookupSeam() {
    return version_lookup;
}

void App_InitLibraries() {
    RunSteps(kInitSteps);
}

void App_BuildStrings() {
    // The tool is the system's own, wherever the environment says the system is: an elevated
    // program must not run what whoever started it chose.
    RtStringOwner system_folder(OS_SystemFolder());
    String_Free(app_state.tool_path);
    app_state.tool_path =
        system_folder.get()[0] ? String_Concat(system_folder.get(), kToolName) : String_Copy(L"");
    String_Free(app_state.tool_folder);
    app_state.tool_folder = String_Copy(system_folder.get());
    String_Free(app_state.argument_prefix);
    app_state.argument_prefix = String_Copy(kArgumentPrefix);
}

void App_TerminateLibraries() {
    // The application's strings live in the string workspace's heap, which goes last.
    app_state.tool_path = nullptr;
    app_state.tool_folder = nullptr;
    app_state.argument_prefix = nullptr;
    app_state.message_text = nullptr;
    RunSteps(kEndSteps);
}

bool App_VersionGatePasses(int64_t version_code) {
    return version_code > kOldestRefusedVersion;
}

UINT App_Run() {
    App_InitLibraries();
    App_BuildStrings();
    if (!App_VersionGatePasses(version_lookup())) {
        Requester_Message(kInfoTitle, kTooOldText, kInformationBox);
    } else {
        MainWindow_Run();
    }
    App_TerminateLibraries();
    return app_state.exit_code;
}
