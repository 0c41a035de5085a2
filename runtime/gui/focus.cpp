// Tab and Shift+Tab: moving the keyboard focus between the tab stops of the active window.
#include "runtime/gui/internal/window_procedure.h"

#include <cwchar>

namespace {

constexpr int kClassNameLength = 50;

struct ForwardSearch {
    HWND current; // the stop the focus leaves, or null
    bool passed;  // the current stop has been visited
    HWND first;   // the first tab stop of all
    HWND target;
};

struct BackwardSearch {
    HWND current;
    HWND last_seen; // the last tab stop visited so far
    HWND target;
};

bool IsTabStop(HWND window) {
    return IsWindowEnabled(window) && IsWindowVisible(window) &&
           (GetWindowLongPtrW(window, GWL_STYLE) & WS_TABSTOP);
}

BOOL CALLBACK VisitForward(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<ForwardSearch*>(parameter);
    if (window == search->current) {
        search->passed = true;
        return TRUE;
    }
    if (!IsTabStop(window)) {
        return TRUE;
    }
    if (!search->first) {
        search->first = window;
    }
    if (search->passed) {
        search->target = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK VisitBackward(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<BackwardSearch*>(parameter);
    if (window == search->current && search->last_seen) {
        search->target = search->last_seen;
        return FALSE;
    }
    if (IsTabStop(window)) {
        search->last_seen = window;
    }
    return TRUE;
}

bool ClassIs(HWND window, const wchar_t* name) {
    wchar_t class_name[kClassNameLength] = {};
    GetClassNameW(window, class_name, kClassNameLength);
    return std::wcscmp(class_name, name) == 0;
}

} // namespace

void Focus_Step(int backwards) {
    HWND active = GetActiveWindow();
    if (!active) {
        return; // a null root would make the search run over every top-level window
    }
    HWND focus = GetFocus();
    HWND root = active;
    HWND current = nullptr;
    if (IsChild(active, focus)) {
        current = focus;
        // Inside an MDI child the search stays in that child; composite controls count as
        // one stop, whichever of their parts has the focus.
        for (HWND window = focus; window; window = GetParent(window)) {
            if (ClassIs(window, L"MDI_ChildClass")) {
                root = window;
                if (window == focus) {
                    current = nullptr;
                }
            } else if (ClassIs(window, L"ComboBoxEx32")) {
                if (GetWindowLongPtrW(window, GWL_STYLE) & 1) {
                    current = window;
                }
            } else if (ClassIs(window, L"SysIPAddress32")) {
                current = window;
            }
        }
    }
    HWND target = nullptr;
    if (backwards) {
        // Ends on the tab stop before the current one, or else on the last one.
        BackwardSearch search{current, nullptr, nullptr};
        EnumChildWindows(root, VisitBackward, reinterpret_cast<LPARAM>(&search));
        target = search.target ? search.target : search.last_seen;
    } else {
        // The first tab stop after the current stop, or else (past the last one) the first.
        // A current stop that is no tab stop itself, such as a clicked button without
        // WS_TABSTOP, still leads to the tab stop after it, so Tab never gets stuck.
        ForwardSearch search{current, current == nullptr, nullptr, nullptr};
        EnumChildWindows(root, VisitForward, reinterpret_cast<LPARAM>(&search));
        target = search.target ? search.target : search.first;
    }
    if (target) {
        SetFocus(target);
    }
}
