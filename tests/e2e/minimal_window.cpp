// The yardstick for start-up time: a minimal program that opens one window and waits.
#include <windows.h>

namespace {

LRESULT CALLBACK MinimalProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSW window_class{.lpfnWndProc = MinimalProc,
                           .hInstance = instance,
                           .hCursor = LoadCursorW(nullptr, IDC_ARROW),
                           .hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1),
                           .lpszClassName = L"MinimalWindow"};
    RegisterClassW(&window_class);
    HWND window = CreateWindowExW(0, L"MinimalWindow", L"Minimal", WS_CAPTION | WS_SYSMENU, 100,
                                  100, 266, 109, nullptr, nullptr, instance, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
