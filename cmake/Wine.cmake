# How the tests reach Wine in a cross build, the one the toolchain file found as
# HALVORN_WINE: HALVORN_WINE_WORKS tells whether it can run this build's programs on this
# machine (a machine that cannot execute 32-bit x86 code cannot run 32-bit Wine),
# halvorn_wine_fixtures() declares the display and the Wine server that the tests share,
# halvorn_wine_interrupt_test() the test of Ctrl+C during a session's start, and
# HALVORN_WINE_SESSION is the launcher that runs a test's command on that display. Every
# session's prefix is listed in wine-sessions in the build tree, for scripts/test to stop
# them when Ctrl+C cuts ctest short.

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
set(sessions ${CMAKE_BINARY_DIR}/wine-sessions)
file(WRITE ${sessions} "")

# halvorn_wine_fixtures(): WineSession (the shared prefix's server, on a display of its
# own) and WineHeadless (a server of its own, with no display at all).
function(halvorn_wine_fixture fixture name prefix screen)
    file(APPEND ${sessions} "${prefix}\n")
    add_test(NAME "Wine, ${name}Starts"
             COMMAND ${session} start ${prefix} ${HALVORN_WINE} ${screen} ${PROJECT_SOURCE_DIR}/tests/wine/tests.reg)
    add_test(NAME "Wine, ${name}Stops" COMMAND ${session} stop ${prefix})
    set_tests_properties("Wine, ${name}Starts" PROPERTIES FIXTURES_SETUP ${fixture} TIMEOUT 120)
    set_tests_properties("Wine, ${name}Stops" PROPERTIES FIXTURES_CLEANUP ${fixture})
endfunction()

function(halvorn_wine_fixtures)
    # A screen tall enough for the box of the longest command line: Wine 10 draws
    # nothing of a window taller than its screen.
    halvorn_wine_fixture(WineSession Session ${CMAKE_BINARY_DIR}/wine 1280x10240)
    halvorn_wine_fixture(WineHeadless HeadlessSession ${CMAKE_BINARY_DIR}/wine-headless none)
endfunction()

# Ctrl+C during a session's start, on a prefix of its own; once, in the tree that has Wine
# wherever Wine runs at all: the script is the same for both architectures.
function(halvorn_wine_interrupt_test)
    if(HALVORN_ARCHITECTURE STREQUAL x64)
        file(APPEND ${sessions} "${CMAKE_BINARY_DIR}/wine-interrupted\n")
        find_program(python python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED NO_CACHE)
        add_test(NAME "Wine, SessionStartEndsWholeOnCtrlCAndStartsAgain"
                 COMMAND ${python} ${PROJECT_SOURCE_DIR}/tests/wine/interrupt.py ${session}
                         ${CMAKE_BINARY_DIR}/wine-interrupted ${HALVORN_WINE} ${PROJECT_SOURCE_DIR}/tests/wine/tests.reg)
        set_tests_properties("Wine, SessionStartEndsWholeOnCtrlCAndStartsAgain" PROPERTIES TIMEOUT 240)
    endif()
endfunction()
