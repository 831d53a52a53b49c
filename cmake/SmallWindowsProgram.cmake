# halvorn_small_windows_program(target): link a MinGW-w64 GUI program that runs on
# Windows XP and later with nothing beside it, hardened, small and reproducible.
function(halvorn_small_windows_program target)
    if(NOT MINGW)
        message(FATAL_ERROR "${target}: only the MinGW-w64 toolchain is set up for Windows XP builds")
    endif()
    # XP is 5.01 on x86; x64 Windows began with 5.02.
    set(minor 1)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(minor 2)
    endif()

    target_compile_options(${target} PRIVATE
        -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
        -ffunction-sections -fdata-sections
        # No build folder may leak into the file: two folders, one result.
        -ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)
    target_link_options(${target} PRIVATE
        -static -s
        -Wl,--gc-sections
        # Setting the subsystem version alone leaves the OS version at 4.0.
        -Wl,--subsystem,windows:5.0${minor}
        -Wl,--major-os-version,5 -Wl,--minor-os-version,${minor}
        -Wl,--dynamicbase -Wl,--nxcompat -Wl,--tsaware
        -Wl,--no-insert-timestamp)
endfunction()
