// The guard value of the stack cookies, and what ends the process when a cookie or a checked copy
// finds memory overwritten. The compiler's stack-protector library brings its own, but draws the
// guard through the CryptoAPI, which loads a cryptographic provider at every start; the system's
// random source needs none. With these four symbols defined here that library's member is never
// linked; its checked copies (__memcpy_chk and the others) still come from it and end here.
//
// Built without a stack protector: the guard changes while the function that draws it runs, so a
// cookie of its own would read as broken on the way out.
#include "runtime/core/internal/core.h"

#include <cstdint>

extern "C" {
// Read by every function with a stack cookie.
uintptr_t __stack_chk_guard = 0;
// In the attribute's GNU form, which the C library's headers give __chk_fail too.
__attribute__((noreturn)) void __stack_chk_fail();
__attribute__((noreturn)) void __stack_chk_fail_local();
__attribute__((noreturn)) void __chk_fail();
}

namespace {

// RtlGenRandom, the system's random source.
using GenRandomProc = BOOLEAN(WINAPI*)(PVOID buffer, ULONG length);

// Ends the process at once, the way the system ends a program whose stack cookie broke: from
// Windows 8 on, the fast-fail interrupt ends it without running any handler of the process and
// reports why. Before that the interrupt is a fault like any other, so the process is ended all
// the same if it ever comes back.
[[noreturn]] void FailFast(unsigned int code) {
    __asm__ volatile("int $0x29" : : "c"(code) : "memory");
    TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    __builtin_unreachable();
}

// Fills `value` from the system's random source. RtlGenRandom lives in cryptbase.dll since
// Windows 7; advapi32.dll exports it (as SystemFunction036) only by forwarding it there, and
// cryptbase is not a known DLL, so resolving the forward could look for it beside the program
// before the library search is locked. Taken from the system folder by name, it never is.
// Wine 8 has no cryptbase and keeps the function in advapi32 itself.
bool DrawFromSystem(uintptr_t* value) {
    for (const wchar_t* library : {L"cryptbase.dll", L"advapi32.dll"}) {
        const auto draw =
            Runtime_Proc<GenRandomProc>(Runtime_LoadSystemLibrary(library), "SystemFunction036");
        if (draw && draw(value, sizeof(*value))) {
            return true;
        }
    }
    return false;
}

// For when the system's random source cannot be reached (Windows 7 without the update that
// restricts the library search, where the program only says that it needs Windows 8): the
// performance counter, the time, the process and thread ids and a stack address, each spread
// over the whole value.
uintptr_t DrawFromState() {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    FILETIME time{};
    GetSystemTimeAsFileTime(&time);
    uint64_t mixed = static_cast<uint64_t>(counter.QuadPart);
    for (const uint64_t part :
         {(static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime,
          (static_cast<uint64_t>(GetCurrentProcessId()) << 32) | GetCurrentThreadId(),
          static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&counter))}) {
        // A multiply and shift step that carries every bit of each part into the whole value.
        mixed = (mixed ^ part) * 0x9E3779B97F4A7C15ull;
        mixed ^= mixed >> 29;
    }
    // A guard of zero would match any overflow that writes zeros.
    return mixed ? static_cast<uintptr_t>(mixed) : ~uintptr_t{0};
}

// Runs before every other constructor of the program (101 is the first priority a program may
// take), so no function with a cookie has yet begun: what runs before it (the C runtime's
// start-up, the compiler's registration of unwind tables) carries no cookies.
__attribute__((constructor(101))) void DrawStackGuard() {
    uintptr_t guard = 0;
    if (!DrawFromSystem(&guard) || guard == 0) {
        guard = DrawFromState();
    }
    __stack_chk_guard = guard;
}

} // namespace

void __stack_chk_fail() {
    FailFast(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE);
}

// The form that 32-bit position-independent code calls; defined so that nothing ever needs the
// library's member.
void __stack_chk_fail_local() {
    FailFast(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE);
}

// A checked copy whose length exceeds the destination the compiler knows.
void __chk_fail() {
    FailFast(FAST_FAIL_RANGE_CHECK_FAILURE);
}
