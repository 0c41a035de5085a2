// The window library's test seams (see runtime/core/internal/test_seams.h for the pattern).
#pragma once

#include "runtime/core/internal/core.h"
#include "runtime/gui/gui.h"

// How Window_CaptionOffset asks about desktop composition: DwmIsCompositionEnabled of
// "dwmapi.dll" while null, or a test's stand-in. The answer belongs to the query that gave it:
// after a swap, the next call asks again.
using CompositionQuery = HRESULT(WINAPI*)(BOOL* enabled);
CompositionQuery& Window_CompositionQuerySeam();
