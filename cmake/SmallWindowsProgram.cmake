# How the shipped program is built: small, hardened and reproducible.
#   halvorn_small_windows_code           compile flags for every object that goes into it:
#                                        each part of the program links this target
#   halvorn_small_windows_program(target) links a MinGW-w64 GUI program that runs on
#                                        Windows XP and later with nothing beside it

add_library(halvorn_small_windows_code INTERFACE)
if(MINGW)
    target_compile_options(halvorn_small_windows_code INTERFACE
        -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
        -ffunction-sections -fdata-sections
        # No build folder may leak into the file: two folders, one result.
        -ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)
endif()

function(halvorn_small_windows_program target)
    if(NOT MINGW)
        message(FATAL_ERROR "${target}: only the MinGW-w64 toolchain is set up for Windows XP builds")
    endif()
    # XP is 5.01 on x86; x64 Windows began with 5.02.
    set(minor 1)
    set(architecture_options
        # The program registers no exception handler: say so, or SafeSEH checkers flag it.
        -Wl,--no-seh)
    if(HALVORN_ARCHITECTURE STREQUAL x64)
        set(minor 2)
        set(architecture_options -Wl,--high-entropy-va)
    endif()

    target_link_libraries(${target} PRIVATE halvorn_small_windows_code)
    target_link_options(${target} PRIVATE
        -static -s
        -Wl,--gc-sections
        # Setting the subsystem version alone leaves the OS version at 4.0.
        -Wl,--subsystem,windows:5.0${minor}
        -Wl,--major-os-version,5 -Wl,--minor-os-version,${minor}
        -Wl,--dynamicbase -Wl,--nxcompat -Wl,--tsaware ${architecture_options}
        -Wl,--no-insert-timestamp)
endfunction()
