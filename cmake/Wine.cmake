# How the tests reach Wine in a cross build, the one the toolchain file found as
# HALVORN_WINE: HALVORN_WINE_WORKS tells whether it can run this build's programs on this
# machine (a machine that cannot execute 32-bit x86 code cannot run 32-bit Wine), and
# HALVORN_WINE_SESSION is the launcher that runs a test's command on the display of the
# tests' shared session (tests/wine/ declares the sessions). Every session's prefix is
# listed in HALVORN_WINE_SESSIONS, the file wine-sessions in the build tree, for
# scripts/test to stop them when Ctrl+C cuts ctest short.

set(HALVORN_WINE_WORKS FALSE)
set(left_out "no Wine was found")
if(HALVORN_WINE)
    execute_process(COMMAND ${HALVORN_WINE} --version RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE said)
    if(status EQUAL 0)
        set(HALVORN_WINE_WORKS TRUE)
        set(left_out "")
    else()
        string(REGEX REPLACE "\n.*" "" said "${said}")
        set(left_out "${HALVORN_WINE} --version fails on this machine (${status}: ${said})")
        if(HALVORN_ARCHITECTURE STREQUAL x86)
            string(APPEND left_out "; a machine that executes no 32-bit x86 code cannot run 32-bit Wine")
        endif()
        message(STATUS "${left_out}: this tree's tests that run programs are left out")
    endif()
endif()
# scripts/test says at its end which trees left their tests out, and why.
set(HALVORN_TESTS_LEFT_OUT "${left_out}" CACHE INTERNAL "why this tree's tests that run programs are left out, if they are")

set(session ${PROJECT_SOURCE_DIR}/support/wine/wine-session)
set(HALVORN_WINE_SESSION ${session} run ${CMAKE_BINARY_DIR}/wine)
set(HALVORN_WINE_SESSIONS ${CMAKE_BINARY_DIR}/wine-sessions)
file(WRITE ${HALVORN_WINE_SESSIONS} "")
