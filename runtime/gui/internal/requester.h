// The requester's wiring: the list of windows it suspends while its box is up. Applications use
// runtime/gui/gui.h.
#pragma once

#include "runtime/core/internal/core.h"
#include "runtime/gui/gui.h"

// One window that a requester took out of the way while its box is up.
struct SuspendedWindow {
    DWORD thread;
    HWND window;
    uint8_t was_topmost;
    uint8_t disabled_here;
};

HWND Requester_PickOwner();
void Requester_SetModal(int state);
BOOL CALLBACK Requester_CollectWindow(HWND window, LPARAM lParam);
// First entry of the suspended window list (null when empty); entries are list records.
SuspendedWindow* Requester_SuspendedList();
