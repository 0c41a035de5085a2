// The yardstick for Kestrevel's start-up: a hand-written program that does the same visible job
// with the same resources and nothing more: the common controls and COM, a centred topmost
// window with a 250 x 70 client area and the program's two buttons, a message loop.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

namespace {

constexpr DWORD kStyle = WS_CAPTION | WS_SYSMENU;

LRESULT CALLBACK SameJobProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void AddButton(HWND window, int id, int y, const wchar_t* text) {
    HWND button = CreateWindowExW(0, L"Button", text, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 1, y, 248,
                                  30, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                  GetModuleHandleW(nullptr), nullptr);
    SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                 TRUE);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX classes{.dwSize = sizeof(INITCOMMONCONTROLSEX),
                                 .dwICC = ICC_TAB_CLASSES | ICC_HOTKEY_CLASS | ICC_DATE_CLASSES |
                                          ICC_USEREX_CLASSES | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&classes);
    CoInitialize(nullptr);

    WNDCLASSW window_class{.style = CS_DBLCLKS,
                           .lpfnWndProc = SameJobProc,
                           .hInstance = instance,
                           .hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1)),
                           .hCursor = LoadCursorW(nullptr, IDC_ARROW),
                           .hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1),
                           .lpszClassName = L"SameJobWindow"};
    RegisterClassW(&window_class);
    RECT outer{0, 0, 250, 70};
    AdjustWindowRectEx(&outer, kStyle, FALSE, 0);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    HWND window = CreateWindowExW(0, L"SameJobWindow", L"Same job", kStyle,
                                  (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                                  (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height,
                                  nullptr, nullptr, instance, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
    AddButton(window, 0, 1, L"Activer le mode classique F8");
    AddButton(window, 1, 35, L"Désactiver le mode classique F8");

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
