// Reports the version code this process sees as its exit code, so that a test can run it under
// each per-program Windows version setting.
#include "runtime/core/internal/core.h"

int main() {
    return static_cast<int>(OS_VersionCode());
}
