// The system folder: where the program's tool and every library it loads come from.
#include "runtime/core/internal/core.h"

RtString OS_SystemFolder() {
    const size_t mark = String_Position();
    // The size with the terminator; a folder that changes between the calls is not taken.
    const UINT size = GetSystemDirectoryW(nullptr, 0);
    if (!size || !String_Ensure(size * sizeof(wchar_t))) {
        return String_Finish(mark);
    }
    const UINT length = GetSystemDirectoryW(String_At(mark), size);
    String_Advance(length < size ? length : 0);
    return String_Finish(mark);
}

void Runtime_LockDllSearch() {
    // Looked up rather than imported: on a Windows 7 without the update that brought it the
    // program must still start, to tell the user that it needs Windows 8.
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    const auto set =
        Runtime_Proc<SetDirectories>(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (!set || !set(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        SetDllDirectoryW(L"");
    }
}

HMODULE Runtime_LoadSystemLibrary(const wchar_t* name) {
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}
