# HALVORN_ARCHITECTURE: the Windows architecture this tree builds for, x86 or x64, as
# Windows and winget name them; every part of the build that differs by architecture
# asks this.
set(HALVORN_ARCHITECTURE x86)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(HALVORN_ARCHITECTURE x64)
endif()
