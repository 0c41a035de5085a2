#include "app/app.h"

// The program takes no command line; every path ends in ExitProcess with code 0.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The program runs elevated, usually from a download folder: before anything can load a
    // library, libraries come from the system folder only.
    Runtime_LockDllSearch();
    Runtime_SetModule(GetModuleHandleW(nullptr));
    if (!Runtime_CreateHeap()) {
        // Nothing can work without the runtime heap.
        ExitProcess(1);
    }
    const UINT exit_code = App_Run();
    Runtime_DestroyHeap();
    ExitProcess(exit_code);
}
