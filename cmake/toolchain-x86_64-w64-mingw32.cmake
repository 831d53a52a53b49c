# Cross-compiles the same program for x64 Windows with Debian's MinGW-w64
# (g++-mingw-w64-x86-64-win32) and runs its tests under 64-bit Wine: the build
# that tests the program on machines that cannot execute 32-bit x86 code.
#   cmake -S . -B build/windows-x64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake
# or simply: cmake --preset windows-x64
set(HALVORN_MINGW_TRIPLE x86_64-w64-mingw32)
set(HALVORN_MINGW_PROCESSOR AMD64)
set(HALVORN_WINE_LOADER_NAMES wine64)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
