// The runtime core's test seams: what the core's tests may swap for stand-ins of their own, one
// reference each, named <Library>_<Thing>Seam. The program never swaps them. Tests install a
// stand-in with ScopedSeam (tests/support/scoped_seam.h), which puts the program's back.
#pragma once

#include "runtime/core/internal/core.h"

// The heap the runtime's blocks come from, so that a test can make it run out.
HANDLE& Runtime_HeapSeam();

// How OS_GetVersionInfo finds RtlGetVersion: in the loaded "ntdll.dll"; a lookup that gives null
// stands for a system without it.
using RtlGetVersionProc = LONG(WINAPI*)(OSVERSIONINFOEXW* record);
using RtlVersionLookup = RtlGetVersionProc (*)();
RtlVersionLookup& OS_RtlVersionLookupSeam();
