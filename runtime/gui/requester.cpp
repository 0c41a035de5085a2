#include "runtime/gui/internal/events.h"
#include "runtime/gui/internal/requester.h"

namespace {

// Newest entry first; empty whenever no requester is open.
void* suspended_list = nullptr;

SuspendedWindow* NextEntry(SuspendedWindow* entry) {
    return static_cast<SuspendedWindow*>(Objects_ListNext(entry));
}

} // namespace

SuspendedWindow* Requester_SuspendedList() {
    return static_cast<SuspendedWindow*>(suspended_list);
}

HWND Requester_PickOwner() {
    HWND foreground = GetForegroundWindow();
    if (!foreground) {
        return nullptr;
    }
    DWORD process = 0;
    GetWindowThreadProcessId(foreground, &process);
    // A window of another process must not become the box's owner.
    return process == GetCurrentProcessId() ? foreground : nullptr;
}

BOOL CALLBACK Requester_CollectWindow(HWND window, LPARAM) {
    if (GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId()) {
        return TRUE;
    }
    if (!IsWindowVisible(window)) {
        return TRUE;
    }
    auto* entry =
        static_cast<SuspendedWindow*>(Objects_ListAdd(&suspended_list, sizeof(SuspendedWindow)));
    if (!entry) {
        return TRUE;
    }
    entry->thread = GetCurrentThreadId();
    entry->window = window;
    if (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) {
        entry->was_topmost = 1;
    }
    // The foreground window stays enabled: as the box's owner, the box itself disables it.
    if (window != GetForegroundWindow() && IsWindowEnabled(window)) {
        entry->disabled_here = 1;
        EnableWindow(window, FALSE);
    }
    return TRUE;
}

void Requester_SetModal(int state) {
    const DWORD thread = GetCurrentThreadId();
    if (state) {
        EnumWindows(Requester_CollectWindow, 1);
        for (auto* entry = Requester_SuspendedList(); entry; entry = NextEntry(entry)) {
            if (entry->thread == thread && entry->was_topmost) {
                SetWindowPos(entry->window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
            }
        }
        return;
    }
    for (auto* entry = Requester_SuspendedList(); entry;) {
        SuspendedWindow* next = NextEntry(entry);
        if (entry->thread == thread) {
            if (entry->disabled_here) {
                EnableWindow(entry->window, TRUE);
            }
            if (entry->was_topmost) {
                SetWindowPos(entry->window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
            }
            Objects_ListRemove(&suspended_list, entry);
        }
        entry = next;
    }
}

int64_t Requester_Message(const wchar_t* title, const wchar_t* text, uint32_t flags) {
    HWND owner = Requester_PickOwner();
    const uint64_t before = Event_Serial();
    Requester_SetModal(1);
    const int result = MessageBoxW(owner, text, title, flags);
    Requester_SetModal(0);
    // The box's own loop dispatches what reaches our windows meanwhile, and the gadget events
    // that come of it wait in the queue. None of them is a choice made after reading the box
    // (the caller's windows are disabled or hidden; another program may have sent them), so
    // none is acted on once it closes.
    Event_DiscardGadgetsSince(before);
    return result;
}
