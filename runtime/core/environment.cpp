#include "runtime/core/internal/core.h"

RtString Env_Get(const wchar_t* name) {
    const size_t mark = String_Position();
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    size_t length = size ? size - 1 : 0;
    // The value is written at the caller's place in the workspace, then copied out.
    if (!String_Ensure((length + 1) * sizeof(wchar_t))) {
        return String_Finish(mark);
    }
    wchar_t* place = String_At(mark);
    if (length) {
        const DWORD written = GetEnvironmentVariableW(name, place, static_cast<DWORD>(length + 1));
        // The variable may have changed between the two calls: a longer value does not fit
        // (and is not written), a shorter one is taken as it is.
        length = written <= length ? written : 0;
    }
    place[length] = L'\0';
    String_Advance(length);
    return String_Finish(mark);
}

BOOL Env_Set(const wchar_t* name, const wchar_t* value) {
    if (!name) {
        return FALSE;
    }
    return SetEnvironmentVariableW(name, value ? value : L"");
}

void Env_Unset(const wchar_t* name) {
    if (name) {
        SetEnvironmentVariableW(name, nullptr);
    }
}
