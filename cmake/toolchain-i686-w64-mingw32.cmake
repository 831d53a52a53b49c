# Cross-compiles the 32-bit x86 Windows program (the one that ships) with Debian's
# MinGW-w64 (g++-mingw-w64-i686-win32) and runs its tests under Wine.
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake
# or simply: cmake --preset windows
set(HALVORN_MINGW_TRIPLE i686-w64-mingw32)
set(HALVORN_MINGW_PROCESSOR x86)
set(HALVORN_WINE_LOADER_NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
