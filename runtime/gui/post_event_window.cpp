// The post-event window, through which other threads deliver events to the event-loop thread.
#include "runtime/gui/internal/events.h"
#include "runtime/gui/internal/message_origin.h"

namespace {

constexpr wchar_t kPostEventClass[] = L"PostEventClass";
constexpr wchar_t kPostEventMessage[] = L"Tavi_PostEventMessage";
// Blocks on their way from a sending thread to the window procedure.
constexpr int kPendingBlockSlots = 256;

HWND post_window = nullptr;
UINT post_message = 0;

// A registered message can be posted by anyone on the desktop, so the block address in lParam
// is only trusted when it is one that Event_PostFromThread handed out and that is still on its
// way. The table is shared by the sending threads and the event-loop thread; interlocked slot
// exchanges keep it consistent without a lock.
PostedEvent* volatile pending_blocks[kPendingBlockSlots];

bool RememberBlock(PostedEvent* block) {
    for (auto& slot : pending_blocks) {
        if (!InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&slot), block,
                                               nullptr)) {
            return true;
        }
    }
    return false;
}

// Takes the block out of the table; false when it was never handed out (or already taken).
bool ClaimBlock(PostedEvent* block) {
    if (!block) {
        return false;
    }
    for (auto& slot : pending_blocks) {
        if (InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&slot), nullptr,
                                              block) == block) {
            return true;
        }
    }
    return false;
}

} // namespace

HWND Event_PostWindow() {
    return post_window;
}

UINT Event_PostMessageId() {
    return post_message;
}

LRESULT CALLBACK Event_PostWindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    // The window lives from Event_Init to Event_End: a forged life message changes nothing, and a
    // close (which the default procedure answers by destroying the window) is not passed on.
    if (Window_LifeMessageFromElsewhere(handle, message) || message == WM_CLOSE) {
        return 0;
    }
    if (message == WM_NCDESTROY && handle == post_window) {
        post_window = nullptr;
    }
    if (post_message && message == post_message) {
        auto* block = reinterpret_cast<PostedEvent*>(lParam);
        if (ClaimBlock(block)) {
            Event_Post(block->code, block->object, block->window, block->type, block->data, nullptr,
                       POST_ALWAYS);
            Runtime_Free(block);
        }
    }
    return DefWindowProcW(handle, message, wParam, lParam);
}

bool Event_PostFromThread(int32_t code, int64_t object, int64_t window, int64_t type,
                          intptr_t data) {
    // The runtime heap is serialised, so any thread may allocate from it.
    auto* block = static_cast<PostedEvent*>(Runtime_Alloc(sizeof(PostedEvent)));
    if (!block) {
        return false;
    }
    *block =
        PostedEvent{.code = code, .object = object, .window = window, .type = type, .data = data};
    if (!RememberBlock(block)) {
        Runtime_Free(block);
        return false;
    }
    if (!post_window ||
        !PostMessageW(post_window, post_message, 0, reinterpret_cast<LPARAM>(block))) {
        if (ClaimBlock(block)) {
            Runtime_Free(block);
        }
        return false;
    }
    return true;
}

void Event_MakePostWindow() {
    HINSTANCE module = Runtime_Module();
    WNDCLASSW post_class{.style = CS_DBLCLKS,
                         .lpfnWndProc = Event_PostWindowProc,
                         .hInstance = module,
                         .hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1),
                         .lpszClassName = kPostEventClass};
    RegisterClassW(&post_class);
    // Never shown: it only receives the post-event message. As a message-only window it needs
    // nothing of the display (the program's first window would otherwise pay the display's
    // start-up twice over), and no other program finds it by enumerating the desktop's windows.
    WindowLifeScope making;
    post_window = CreateWindowExW(0, kPostEventClass, nullptr, WS_CAPTION, 0, 0, 1, 1, HWND_MESSAGE,
                                  nullptr, module, nullptr);
    post_message = RegisterWindowMessageW(kPostEventMessage);
}

void Event_DestroyPostWindow() {
    if (post_window) {
        WindowLifeScope ending(post_window);
        DestroyWindow(post_window);
        post_window = nullptr;
    }
    UnregisterClassW(kPostEventClass, Runtime_Module());
}
