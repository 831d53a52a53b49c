# The body shared by the MinGW-w64 toolchain files: set HALVORN_MINGW_TRIPLE and
# HALVORN_WINE_LOADER_NAMES, then include this file.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${HALVORN_MINGW_PROCESSOR})

# Debian's win32 thread model: the posix one links winpthread, which imports
# GetTickCount64 and so would stop the program from loading on Windows XP.
find_program(CMAKE_C_COMPILER NAMES ${HALVORN_MINGW_TRIPLE}-gcc-win32 ${HALVORN_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${HALVORN_MINGW_TRIPLE}-g++-win32 ${HALVORN_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${HALVORN_MINGW_TRIPLE}-windres REQUIRED)

# Each target names the system libraries it uses, rather than linking the list that
# CMake gives every Windows program (gdi32, ole32, advapi32 and more).
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "System libraries linked into every C++ program")

set(CMAKE_FIND_ROOT_PATH /usr/${HALVORN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and tools run under Wine, in a prefix of this build tree's own, started by
# support/wine/wine so that their arguments arrive whatever the caller's locale.
find_program(HALVORN_WINE NAMES ${HALVORN_WINE_LOADER_NAMES} PATHS /usr/lib/wine NO_CACHE)
if(HALVORN_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../support/wine/wine ${CMAKE_BINARY_DIR}/wine ${HALVORN_WINE})
endif()
