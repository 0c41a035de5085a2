// Entry of every test executable: the runtime heap and the string workspace exist for the whole
// run, as they do in the program.
#include "runtime/core/core.h"

#include <gtest/gtest.h>

int wmain(int argc, wchar_t** argv) {
    Runtime_SetModule(GetModuleHandleW(nullptr));
    if (!Runtime_CreateHeap()) {
        return 2;
    }
    String_Init();
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    String_End();
    Runtime_DestroyHeap();
    return result;
}
