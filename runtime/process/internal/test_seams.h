// The program runner's test seams (see runtime/core/internal/test_seams.h for the pattern).
#pragma once

#include "runtime/process/internal/process.h"

// How a launch makes its pipes: CreatePipe, or a test's that fails.
using PipeMaker = BOOL(WINAPI*)(PHANDLE read_end, PHANDLE write_end,
                                LPSECURITY_ATTRIBUTES attributes, DWORD size);
PipeMaker& Program_PipeMakerSeam();
