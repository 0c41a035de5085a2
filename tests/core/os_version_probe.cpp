// Reports the version code this process sees as its exit code, so that a test can run it under
// each per-program Windows version setting; with "no-rtl", as on a system without RtlGetVersion.
#include "runtime/core/internal/test_seams.h"

#include <cstring>

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "no-rtl") == 0) {
        OS_RtlVersionLookupSeam() = []() -> RtlGetVersionProc { return nullptr; };
    }
    return static_cast<int>(OS_VersionCode());
}
