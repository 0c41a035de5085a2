// A library that leaves a trace wherever it is loaded: the file "<its own path>.loaded". Planted
// beside a copy of the program under the name of a library, it shows whether the program's own
// folder took part in a library search.
//
// It also makes such a search itself: installed as a hook procedure for every thread, it is
// brought into each process that makes a window, and each new window makes it look for
// "kv_planted.dll" by a plain search, as any library that a program loads while it starts is
// looked for.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(self, path, MAX_PATH);
        const std::wstring trace = std::wstring(path) + L".loaded";
        CloseHandle(CreateFileW(trace.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    return TRUE;
}

extern "C" __declspec(dllexport) LRESULT CALLBACK
    SearchOnWindowCreation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        if (HMODULE found = LoadLibraryW(L"kv_planted.dll")) {
            FreeLibrary(found);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
