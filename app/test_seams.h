// The application's test seams (see runtime/core/internal/test_seams.h for the pattern), and the
// one start-up step of its own that the tests name in the start-up order.
#pragma once

#include "app/app.h"

// One library's initialisation or termination, a step of the start-up or shutdown order.
using AppLibraryStep = void (*)();
// Sees each step of App_InitLibraries and App_TerminateLibraries just before it runs, so that a
// test can follow the orders; null (the program's) sees nothing.
using AppStepWatcher = void (*)(AppLibraryStep step);
AppStepWatcher& App_StepWatcherSeam();
// Where the version gate gets the version code: OS_VersionCode, or a test's stand-in.
using VersionLookup = int64_t (*)();
VersionLookup& App_VersionLookupSeam();

// The last start-up step: the common controls, and COM for this thread.
void App_InitCommonControlsAndCom();
