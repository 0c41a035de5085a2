// The application: start-up and shutdown, the version gate, the main window and the boot menu
// policy switch.
#pragma once

#include "runtime/core/core.h"

#include <cstdint>

constexpr int64_t POLICY_LEGACY = 1;
constexpr int64_t POLICY_STANDARD = 0;

// Systems with a version code at or below this one (Windows 7, Server 2008 and older) are
// refused.
constexpr int64_t kOldestRefusedVersion = 80;

// Every message of the program carries this title; the refusal and the credit show the
// information icon, the verdicts none.
constexpr wchar_t kInfoTitle[] = L"Info";
constexpr uint32_t kInformationBox = MB_ICONINFORMATION;

// Process-wide state of the application; everything empty or 0 at start.
struct AppState {
    RtString tool_path;       // "<system folder>\bcdedit.exe", empty without a system folder
    RtString tool_folder;     // the system folder, where the tool starts
    RtString argument_prefix; // "/set {Default} bootmenupolicy "
    intptr_t program;         // object of the last tool launch, or 0
    int64_t current_event;
    int64_t current_gadget;
    RtString message_text;
    UINT exit_code;
};

AppState& App_State();

// Start-up: initialises every runtime library in its fixed order, then builds the tool path and
// the argument prefix.
void App_InitLibraries();
void App_BuildStrings();
// Shutdown: terminates the libraries in their fixed order and frees the string workspace; the
// runtime heap is destroyed by the caller.
void App_TerminateLibraries();

bool App_VersionGatePasses(int64_t version_code);

// Runs the boot-configuration tool hidden to set the boot menu policy (POLICY_LEGACY or
// POLICY_STANDARD) and returns 1 when its report holds the success marker, otherwise 0. Leaves
// the tool's program object in the application state for the caller to release.
int64_t PolicySwitch(int64_t policy);

// The main window and its event loop, until the window is closed and the credit shown.
void MainWindow_Run();

// The whole program from the created heap to the exit code.
UINT App_Run();
