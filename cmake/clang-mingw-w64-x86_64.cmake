# Cross-compiles for 64-bit Windows with Debian's clang, on top of the mingw-w64 GCC toolchain
# that cmake/mingw-w64-x86_64.cmake uses: GCC's C++ library (posix thread model, which GoogleTest
# needs for std::mutex), the mingw-w64 headers and libraries, its resource compiler and archiver;
# test executables run through Wine. A second compiler catches what one accepts by accident.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-target.cmake)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)
# The mingw-w64 archiver, not the LLVM one that CMake would pick for clang.
set(CMAKE_AR /usr/bin/x86_64-w64-mingw32-ar)
set(CMAKE_RANLIB /usr/bin/x86_64-w64-mingw32-ranlib)
# Without a sysroot clang would also search the host's /usr/include and /usr/lib.
set(CMAKE_SYSROOT /usr/x86_64-w64-mingw32)

# clang does not take GCC's "12-posix" folder for a GCC version, so it is named here: its C++
# headers, and its libraries (libstdc++, libgcc) for the linker.
set(KESTREVEL_MINGW_GCC_DIR /usr/lib/gcc/x86_64-w64-mingw32/12-posix)
set(CMAKE_CXX_FLAGS_INIT "-isystem ${KESTREVEL_MINGW_GCC_DIR}/include/c++ \
-isystem ${KESTREVEL_MINGW_GCC_DIR}/include/c++/x86_64-w64-mingw32 \
-isystem ${KESTREVEL_MINGW_GCC_DIR}/include/c++/backward")
# LLVM's linker in its MinGW mode; -pthread adds winpthread, which the posix libstdc++ needs.
set(KESTREVEL_MINGW_LINK "-fuse-ld=lld -L${KESTREVEL_MINGW_GCC_DIR} -pthread")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${KESTREVEL_MINGW_LINK}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${KESTREVEL_MINGW_LINK}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${KESTREVEL_MINGW_LINK}")
