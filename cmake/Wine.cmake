# How the tests reach Wine in a cross build: HALVORN_WINE_WORKS tells whether the
# emulator can run this build's programs on this machine (a machine that cannot
# execute 32-bit x86 code cannot run 32-bit Wine), and halvorn_wine_fixtures()
# declares the display and the Wine server that the tests share.

set(HALVORN_WINE_WORKS FALSE)
if(CMAKE_CROSSCOMPILING_EMULATOR)
    list(GET CMAKE_CROSSCOMPILING_EMULATOR -1 HALVORN_WINE)
    execute_process(COMMAND ${HALVORN_WINE} --version RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
    if(status EQUAL 0)
        set(HALVORN_WINE_WORKS TRUE)
    else()
        message(STATUS "${HALVORN_WINE} cannot run on this machine: this tree's tests that run programs are left out")
    endif()
endif()

# A display number of this build tree's own, so that two trees never share one.
string(MD5 hash "${CMAKE_BINARY_DIR}")
string(SUBSTRING "${hash}" 0 4 hash)
math(EXPR number "0x${hash} % 900 + 100")
set(HALVORN_TEST_DISPLAY ":${number}")

# halvorn_wine_fixtures(): WineSession (display and server for the shared prefix)
# and WineWithoutDisplay (a server whose desktop has no display).
function(halvorn_wine_fixtures)
    set(session ${PROJECT_SOURCE_DIR}/tests/wine/session)
    add_test(NAME "Wine, SessionStarts"
             COMMAND ${session} start ${CMAKE_BINARY_DIR}/wine ${HALVORN_WINE} ${HALVORN_TEST_DISPLAY})
    add_test(NAME "Wine, SessionStops" COMMAND ${session} stop ${CMAKE_BINARY_DIR}/wine)
    set_tests_properties("Wine, SessionStarts" PROPERTIES FIXTURES_SETUP WineSession TIMEOUT 120)
    set_tests_properties("Wine, SessionStops" PROPERTIES FIXTURES_CLEANUP WineSession)

    add_test(NAME "Wine, HeadlessSessionStarts"
             COMMAND ${session} start ${CMAKE_BINARY_DIR}/wine-headless ${HALVORN_WINE})
    add_test(NAME "Wine, HeadlessSessionStops" COMMAND ${session} stop ${CMAKE_BINARY_DIR}/wine-headless)
    set_tests_properties("Wine, HeadlessSessionStarts" PROPERTIES FIXTURES_SETUP WineHeadless TIMEOUT 120)
    set_tests_properties("Wine, HeadlessSessionStops" PROPERTIES FIXTURES_CLEANUP WineHeadless)
endfunction()
