#include "support/window_driver.h"

#include <algorithm>

namespace driver {

namespace {

struct Search {
    DWORD process_id;
    const wchar_t* class_name;
    const wchar_t* caption;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTop(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->process_id || !IsWindowVisible(window)) {
        return TRUE;
    }
    if (search->class_name && ClassOf(window) != search->class_name) {
        return TRUE;
    }
    if (search->caption && TextOf(window) != search->caption) {
        return TRUE;
    }
    search->found.push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    if (!search->class_name || ClassOf(window) == search->class_name) {
        search->found.push_back(window);
    }
    return TRUE;
}

void SendMouse(DWORD flags, int x, int y) {
    // Every event carries the absolute position: Wine may otherwise deliver it elsewhere.
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    INPUT input{.type = INPUT_MOUSE};
    input.mi.dx = static_cast<LONG>((x * 65535LL + width / 2) / (width - 1));
    input.mi.dy = static_cast<LONG>((y * 65535LL + height / 2) / (height - 1));
    input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    SendInput(1, &input, sizeof(INPUT));
}

void SendKey(WORD key, bool up) {
    INPUT input{.type = INPUT_KEYBOARD};
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof(INPUT));
}

} // namespace

std::wstring TextOf(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::vector<HWND> TopWindowsOf(DWORD process_id) {
    Search search{process_id, nullptr, nullptr, {}};
    EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForWindow(DWORD process_id, const wchar_t* class_name, const wchar_t* caption,
                   DWORD timeout_ms) {
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    do {
        Search search{process_id, class_name, caption, {}};
        EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&search));
        if (!search.found.empty()) {
            return search.found.front();
        }
        Sleep(50);
    } while (GetTickCount64() < deadline);
    return nullptr;
}

std::vector<HWND> ChildrenOf(HWND parent, const wchar_t* class_name) {
    Search search{0, class_name, nullptr, {}};
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> WaitForChildren(HWND parent, const wchar_t* class_name, size_t count,
                                  DWORD timeout_ms) {
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    std::vector<HWND> children = ChildrenOf(parent, class_name);
    while (children.size() < count && GetTickCount64() < deadline) {
        Sleep(20);
        children = ChildrenOf(parent, class_name);
    }
    return children;
}

std::wstring MessageBoxText(HWND box) {
    // The message text is the static control with the id 0xFFFF.
    return TextOf(GetDlgItem(box, 0xFFFF));
}

bool MessageBoxHasIcon(HWND box) {
    for (HWND control : ChildrenOf(box, L"Static")) {
        if ((GetWindowLongPtrW(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
            IsWindowVisible(control) && SendMessageW(control, STM_GETICON, 0, 0)) {
            return true;
        }
    }
    return false;
}

HWND FocusOf(HWND window) {
    GUITHREADINFO info{.cbSize = sizeof(GUITHREADINFO)};
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) {
        return nullptr;
    }
    return info.hwndFocus;
}

bool CloseBoxPoint(HWND window, POINT* point) {
    RECT rect{};
    GetWindowRect(window, &rect);
    // Walk the caption from the right until the window says the close box is there.
    for (int y = rect.top + 2; y < rect.top + 40 && y < rect.bottom; y += 2) {
        for (int x = rect.right - 2; x > rect.right - 80 && x > rect.left; x -= 2) {
            const LRESULT hit = SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(x, y));
            if (hit == HTCLOSE) {
                *point = POINT{x - 3, y + 3};
                return SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(x - 3, y + 3)) == HTCLOSE;
            }
        }
    }
    return false;
}

bool WaitForVisibility(HWND window, bool visible, DWORD timeout_ms) {
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    while ((IsWindowVisible(window) != FALSE) != visible) {
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(20);
    }
    return true;
}

bool SaveScreenBmp(const std::wstring& path) {
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER header{.biSize = sizeof(BITMAPINFOHEADER),
                            .biWidth = width,
                            .biHeight = height,
                            .biPlanes = 1,
                            .biBitCount = 24,
                            .biCompression = BI_RGB};
    const DWORD row = static_cast<DWORD>((width * 3 + 3) & ~3);
    std::vector<BYTE> pixels(static_cast<size_t>(row) * height);
    GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&header),
              DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER file{
        .bfType = 0x4D42,
        .bfSize = static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(header) + pixels.size()),
        .bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(header)};
    HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(out, &file, sizeof(file), &written, nullptr) &&
              WriteFile(out, &header, sizeof(header), &written, nullptr) &&
              WriteFile(out, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
    CloseHandle(out);
    return ok;
}

void PressKey(WORD key, bool with_shift) {
    if (with_shift) {
        SendKey(VK_SHIFT, false);
    }
    SendKey(key, false);
    SendKey(key, true);
    if (with_shift) {
        SendKey(VK_SHIFT, true);
    }
}

void ClickAt(int x, int y) {
    SendMouse(0, x, y);
    Sleep(30);
    SendMouse(MOUSEEVENTF_LEFTDOWN, x, y);
    Sleep(30);
    SendMouse(MOUSEEVENTF_LEFTUP, x, y);
}

void ClickCentre(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    ClickAt((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
}

void Acknowledge(HWND box, DWORD timeout_ms) {
    BringToFront(box);
    PressKey(VK_RETURN);
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    while (IsWindow(box) && GetTickCount64() < deadline) {
        Sleep(10);
    }
}

bool BringToFront(HWND window) {
    for (int attempt = 0; attempt < 40; ++attempt) {
        SetForegroundWindow(window);
        if (GetForegroundWindow() == window) {
            return true;
        }
        Sleep(50);
    }
    return false;
}

ChildProcess::~ChildProcess() {
    if (info_.hProcess) {
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(info_.hProcess, 99);
            WaitForSingleObject(info_.hProcess, 5000);
        }
        CloseHandle(info_.hProcess);
    }
    if (info_.hThread) {
        CloseHandle(info_.hThread);
    }
}

bool ChildProcess::Start(const std::wstring& command_line, const wchar_t* folder) {
    std::wstring command = command_line;
    STARTUPINFOW startup{.cb = sizeof(STARTUPINFOW)};
    return CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder,
                          &startup, &info_) != FALSE;
}

long ChildProcess::WaitForExit(DWORD timeout_ms) {
    if (!info_.hProcess || WaitForSingleObject(info_.hProcess, timeout_ms) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return static_cast<long>(code);
}

DWORD HandleCountOf(HANDLE process) {
    DWORD count = 0;
    if (GetProcessHandleCount(process, &count) && count) {
        return count;
    }
    struct HandleEntry {
        USHORT process_id;
        USHORT creator_back_trace_index;
        UCHAR object_type;
        UCHAR attributes;
        USHORT handle;
        void* object;
        ACCESS_MASK granted_access;
    };
    using QuerySystem = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
    constexpr int kSystemHandleInformation = 16;
    const auto query = reinterpret_cast<QuerySystem>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) {
        return 0;
    }
    std::vector<char> table(1 << 20);
    ULONG needed = 0;
    while (query(kSystemHandleInformation, table.data(), static_cast<ULONG>(table.size()),
                 &needed) != 0) {
        if (table.size() >= (size_t{1} << 28)) {
            return 0;
        }
        table.resize(table.size() * 2);
    }
    const ULONG entries = *reinterpret_cast<const ULONG*>(table.data());
    const auto* entry = reinterpret_cast<const HandleEntry*>(table.data() + sizeof(void*));
    const auto id = static_cast<USHORT>(GetProcessId(process));
    for (ULONG i = 0; i < entries; ++i) {
        count += entry[i].process_id == id ? 1 : 0;
    }
    return count;
}

DWORD WindowCountOf(DWORD process_id) {
    DWORD count = 0;
    for (HWND top : TopWindowsOf(process_id)) {
        count += 1 + static_cast<DWORD>(ChildrenOf(top, nullptr).size());
    }
    return count;
}

std::string FileBytes(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return bytes;
    }
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got) {
        bytes.append(buffer, got);
    }
    CloseHandle(file);
    return bytes;
}

std::wstring OwnFolder() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self);
    folder.resize(folder.find_last_of(L'\\') + 1);
    return folder;
}

namespace {

// The file named by `variable`, or else `fallback` below the folder above our own group's. A
// Unix path (a build under Wine) is reached through Wine's drive for the root, Z:.
std::wstring BuiltFile(const wchar_t* variable, const wchar_t* fallback) {
    wchar_t value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(variable, value, MAX_PATH);
    if (!length || length >= MAX_PATH) {
        return OwnFolder() + L"..\\..\\" + fallback;
    }
    std::wstring path(value, length);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path[0] == L'\\' && RunningUnderWine() ? L"Z:" + path : path;
}

} // namespace

std::wstring ProgramFile() {
    return BuiltFile(L"KESTREVEL_EXE", L"app\\Kestrevel.exe");
}

std::wstring StandinFile() {
    return BuiltFile(L"KESTREVEL_STANDIN", L"standin\\system32\\bcdedit.exe");
}

std::wstring PlantedLibraryFile() {
    return BuiltFile(L"KESTREVEL_PLANTED", L"tests\\e2e\\planted_library.dll");
}

WineVersionFor::WineVersionFor(const std::wstring& exe_name, const std::wstring& setting)
    : key_(L"Software\\Wine\\AppDefaults\\" + exe_name) {
    applied_ = RegSetKeyValueW(HKEY_CURRENT_USER, key_.c_str(), L"Version", REG_SZ, setting.c_str(),
                               static_cast<DWORD>((setting.size() + 1) * sizeof(wchar_t))) ==
               ERROR_SUCCESS;
}

WineVersionFor::~WineVersionFor() {
    RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
}

bool RunningUnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

} // namespace driver
