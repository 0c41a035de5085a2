# Cross-compiles for 64-bit Windows with mingw-w64 GCC (posix thread model, which GoogleTest
# needs for std::mutex) and runs the test executables through Wine.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-target.cmake)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
