#include "app/app.h"
#include "runtime/gui/gui.h"
#include "runtime/process/process.h"

#include <objbase.h>

namespace {

AppState app_state{};

constexpr wchar_t kToolName[] = L"\\bcdedit.exe";
constexpr wchar_t kArgumentPrefix[] = L"/set {Default} bootmenupolicy ";
constexpr wchar_t kTooOldText[] = L"You need Windows 8 or higher to use this program";

void InitCommonControlsAndCom() {
    Gadget_InitCommonControls();
    // Makes this thread a single-threaded apartment for the life of the process.
    const HRESULT joined = CoInitialize(nullptr);
    (void)joined;
}

} // namespace

AppState& App_State() {
    return app_state;
}

void App_InitLibraries() {
    String_Init(); // 1
    Map_Init();    // 2
    Event_Init();  // 3
    Tls_Init();    // 4
    Font_Init();   // 5
    Memory_Init(); // 6
    // 7 to 11: vector drawing, image codecs, BMP codec, image registry and image blending
    // belong to the imaging libraries, which nothing here uses.
    Window_Init();              // 12
    Gadget_Init();              // 13
    Program_Init();             // 14
    InitCommonControlsAndCom(); // 15
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
    Program_End(); // 1
    Gadget_End();  // 2
    Window_End();  // 3
    // 4 to 6 belong to the imaging libraries.
    Font_End();  // 7
    Event_End(); // 8
    // 9: map support has nothing to end.
    Memory_End(); // 10

    // The application's strings live in the string workspace's heap, which goes next.
    app_state.tool_path = nullptr;
    app_state.tool_folder = nullptr;
    app_state.argument_prefix = nullptr;
    app_state.message_text = nullptr;
    String_End();
}

bool App_VersionGatePasses(int64_t version_code) {
    return version_code > kOldestRefusedVersion;
}

UINT App_Run() {
    App_InitLibraries();
    App_BuildStrings();
    if (!App_VersionGatePasses(OS_VersionCode())) {
        Requester_Message(kInfoTitle, kTooOldText, kInformationBox);
    } else {
        MainWindow_Run();
    }
    App_TerminateLibraries();
    return app_state.exit_code;
}
