#include "runtime/core/internal/test_seams.h"

namespace {

constexpr DWORD kInfoSize = sizeof(OSVERSIONINFOW);
constexpr DWORD kInfoExSize = sizeof(OSVERSIONINFOEXW);

int64_t WindowsNineXCode(DWORD minor) {
    switch (minor) {
    case 0:
        return 10;
    case 10:
        return 30;
    case 90:
        return 40;
    default:
        return VERSION_UNKNOWN;
    }
}

// Picks the workstation or the server code of one release.
int64_t Edition(bool workstation, int64_t desktop, int64_t server) {
    return workstation ? desktop : server;
}

RtlGetVersionProc SystemRtlGetVersion() {
    // ntdll is always mapped; it is never loaded on our behalf.
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll ? Runtime_Proc<RtlGetVersionProc>(ntdll, "RtlGetVersion") : nullptr;
}

RtlVersionLookup rtl_version_lookup = SystemRtlGetVersion;

} // namespace

RtlVersionLookup& OS_RtlVersionLookupSeam() {
    return rtl_version_lookup;
}

int64_t OS_DecideVersionCode(DWORD platform, DWORD major, DWORD minor, bool workstation) {
    if (platform == VER_PLATFORM_WIN32_WINDOWS) {
        return WindowsNineXCode(minor);
    }
    if (platform != VER_PLATFORM_WIN32_NT) {
        return VERSION_UNKNOWN;
    }
    switch (major) {
    case 3:
        return 5;
    case 4:
        return 20;
    case 5:
        if (minor == 0) {
            return 50;
        }
        if (minor == 1) {
            return 60;
        }
        return minor == 2 ? Edition(workstation, 60, 65) : VERSION_UNKNOWN;
    case 6:
        switch (minor) {
        case 0:
            return Edition(workstation, 70, 75);
        case 1:
            return Edition(workstation, 80, 85);
        case 2:
            return Edition(workstation, 90, 95);
        case 3:
            return Edition(workstation, 100, 105);
        default:
            return VERSION_UNKNOWN;
        }
    case 10:
        return minor == 0 ? 110 : VERSION_UNKNOWN;
    default:
        return VERSION_UNKNOWN;
    }
}

int OS_GetVersionInfo(OSVERSIONINFOEXW* record) {
    *record = OSVERSIONINFOEXW{};
    record->dwOSVersionInfoSize = kInfoExSize;
    const RtlGetVersionProc rtl_get_version = rtl_version_lookup();
    if (!rtl_get_version) {
        return 0;
    }
    return rtl_get_version(record) == 0 ? 1 : 0;
}

int64_t OS_VersionCode() {
    // GetVersionExW is deprecated but still the way to learn the platform id.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#elif defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4996)
#endif
    OSVERSIONINFOW basic{};
    basic.dwOSVersionInfoSize = kInfoSize;
    if (!GetVersionExW(&basic)) {
        return VERSION_UNKNOWN;
    }
    if (basic.dwPlatformId != VER_PLATFORM_WIN32_NT) {
        return OS_DecideVersionCode(basic.dwPlatformId, basic.dwMajorVersion, basic.dwMinorVersion,
                                    false);
    }
    // Without a manifest entry GetVersionExW stops at 6.2; RtlGetVersion tells the truth.
    DWORD major = 0;
    DWORD minor = 0;
    bool workstation = false;
    OSVERSIONINFOEXW real{};
    if (OS_GetVersionInfo(&real) == 1) {
        major = real.dwMajorVersion;
        minor = real.dwMinorVersion;
        workstation = real.wProductType == VER_NT_WORKSTATION;
    } else {
        OSVERSIONINFOEXW extended{};
        extended.dwOSVersionInfoSize = kInfoExSize;
        if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&extended))) {
            major = basic.dwMajorVersion;
            minor = basic.dwMinorVersion;
            workstation = extended.wProductType == VER_NT_WORKSTATION;
        }
    }
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#elif defined(_MSC_VER)
#pragma warning(pop)
#endif
    return OS_DecideVersionCode(VER_PLATFORM_WIN32_NT, major, minor, workstation);
}
