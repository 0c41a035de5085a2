// Placing, showing, hiding and raising runtime windows.
#include "runtime/gui/internal/window_records.h"

#include <algorithm>

namespace {

WindowRecord* LiveWindow(int64_t number) {
    return static_cast<WindowRecord*>(Objects_Get(Window_Registry(), number));
}

} // namespace

int Window_ShowCommand(bool maximized, bool minimized, bool no_activate) {
    if (maximized) {
        return no_activate ? SW_SHOWNA : SW_SHOWMAXIMIZED;
    }
    if (minimized) {
        return no_activate ? SW_SHOWMINNOACTIVE : SW_SHOWMINIMIZED;
    }
    return no_activate ? SW_SHOWNOACTIVATE : SW_SHOWNORMAL;
}

void Window_CenterPosition(HWND handle, uint32_t flags, HWND reference) {
    RECT window{};
    GetWindowRect(handle, &window);
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    int x = 0;
    int y = 0;
    if (flags & WINDOW_CENTER_ON_SCREEN) {
        // The primary screen, not the work area; a window larger than the screen gets 0.
        const int screen_width = GetSystemMetrics(SM_CXSCREEN);
        const int screen_height = GetSystemMetrics(SM_CYSCREEN);
        x = (screen_width - std::min(width, screen_width)) / 2;
        y = (screen_height - std::min(height, screen_height)) / 2;
    } else if (flags & WINDOW_CENTER_ON_PARENT) {
        if (!reference) {
            reference = GetActiveWindow();
        }
        if (!reference) {
            return; // nothing to centre on: the window stays where it was created
        }
        RECT outer{};
        GetWindowRect(reference, &outer);
        x = std::max(0L, outer.left + (outer.right - outer.left - width) / 2);
        y = std::max(0L, outer.top + (outer.bottom - outer.top - height) / 2);
    } else {
        return;
    }
    SetWindowPos(handle, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Window_Hide(int64_t number, int state, uint32_t show_flags) {
    WindowRecord* record = LiveWindow(number);
    if (!record) {
        return;
    }
    HWND handle = record->handle;
    if (state) {
        // Hand activation to the owner first, so that it does not go to some other program.
        HWND owner = GetWindow(handle, GW_OWNER);
        if (owner && !record->mdi_client) {
            SetActiveWindow(owner);
        }
        ShowWindow(handle, SW_HIDE);
        return;
    }
    if (show_flags & (WINDOW_CENTER_ON_SCREEN | WINDOW_CENTER_ON_PARENT)) {
        Window_CenterPosition(handle, show_flags, GetWindow(handle, GW_OWNER));
    }
    ShowWindow(handle, Window_ShowCommand(IsZoomed(handle), IsIconic(handle),
                                          (show_flags & WINDOW_SHOW_NO_ACTIVATE) != 0));
}

void Window_SetTopmost(int64_t number, int state) {
    WindowRecord* record = LiveWindow(number);
    if (!record || record->mdi_client) {
        return;
    }
    SetWindowPos(record->handle, state ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
}
