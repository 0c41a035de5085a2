// Plays the user for the headless demo of tools/run: takes a picture of the window, clicks the
// first button, takes a picture of the verdict, acknowledges it and closes the window.
#include "support/window_driver.h"

#include <cstdio>
#include <string>

namespace {

constexpr DWORD kWait = 30000;

HWND WaitForMainWindow() {
    const ULONGLONG deadline = GetTickCount64() + kWait;
    while (GetTickCount64() < deadline) {
        if (HWND main = FindWindowW(nullptr, L"Kestrevel"); main && IsWindowVisible(main)) {
            return main;
        }
        Sleep(100);
    }
    return nullptr;
}

int Fail(const char* what) {
    std::fprintf(stderr, "demo driver: %s\n", what);
    return 1;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring folder = argc > 1 ? std::wstring(argv[1]) + L"\\" : driver::OwnFolder();
    HWND main = WaitForMainWindow();
    if (!main) {
        return Fail("no Kestrevel window");
    }
    DWORD process = 0;
    GetWindowThreadProcessId(main, &process);
    driver::WaitForChildren(main, L"Button", 2, kWait);
    Sleep(700); // let it paint
    driver::SaveScreenBmp(folder + L"kestrevel.bmp");

    const auto buttons = driver::WaitForChildren(main, L"Button", 2, kWait);
    if (buttons.empty()) {
        return Fail("no buttons");
    }
    driver::BringToFront(main);
    driver::ClickCentre(buttons.front());
    HWND verdict = driver::WaitForWindow(process, L"#32770", L"Info", kWait);
    if (!verdict) {
        return Fail("no verdict");
    }
    Sleep(500);
    driver::SaveScreenBmp(folder + L"kestrevel-verdict.bmp");
    driver::Acknowledge(verdict, kWait);

    driver::WaitForVisibility(main, true, kWait);
    driver::BringToFront(main);
    POINT close{};
    if (!driver::CloseBoxPoint(main, &close)) {
        return Fail("no close box");
    }
    driver::ClickAt(close.x, close.y);
    HWND credit = driver::WaitForWindow(process, L"#32770", L"Info", kWait);
    if (!credit) {
        return Fail("no credit");
    }
    driver::Acknowledge(credit, kWait);
    return 0;
}
