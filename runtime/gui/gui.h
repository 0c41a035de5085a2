// Runtime windows and events: the modal message requester and the font library (numbered
// windows, the event queue, window messages and button gadgets join them here).
#pragma once

#include "runtime/core/core.h"

#include <cstdint>

// ---------------------------------------------------------------------------------------------
// Message requester
// ---------------------------------------------------------------------------------------------

// One window that a requester took out of the way while its box is up.
struct SuspendedWindow {
    DWORD thread;
    HWND window;
    uint8_t was_topmost;
    uint8_t disabled_here;
};

// Shows a modal message box; the calling thread's other visible windows are disabled and its
// topmost windows lowered while it is up, then put back exactly as they were.
int64_t Requester_Message(const wchar_t* title, const wchar_t* text, uint32_t flags);
HWND Requester_PickOwner();
void Requester_SetModal(int state);
BOOL CALLBACK Requester_CollectWindow(HWND window, LPARAM lParam);
// First entry of the suspended window list (null when empty); entries are list records.
SuspendedWindow* Requester_SuspendedList();

// ---------------------------------------------------------------------------------------------
// Font library
// ---------------------------------------------------------------------------------------------

void Font_Init();
void Font_End();
// Vertical resolution of the screen in dots per inch, 96 without a display device context.
int Font_ScreenDpiY();
