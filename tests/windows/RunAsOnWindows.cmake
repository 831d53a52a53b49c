# Lays out a release's program and test programs as the Windows job of the CI workflow
# gets them, then runs run-tests.cmd on them as that job does, under Wine's cmd: with
# this tree's test programs it must pass; with a test program that fails, crashes or is
# missing it must fail.
#   cmake -DWORK=... -DARCHITECTURE=x86|x64 -DPROGRAM=... -DUNIT=... -DE2E=... -DFAILS=... -DCRASHES=...
#         "-DCMD=LAUNCHER...;cmd" -P RunAsOnWindows.cmake
function(windows_path variable path)
    string(REPLACE "/" "\\" path "Z:${path}")
    set(${variable} ${path} PARENT_SCOPE)
endfunction()

set(released halvorn.exe)
if(ARCHITECTURE STREQUAL x64)
    set(released halvorn-x64.exe)
endif()
windows_path(script ${CMAKE_CURRENT_LIST_DIR}/run-tests.cmd)

# Each case: its name, the unit test program, the end-to-end one (or none), and
# whether run-tests.cmd must pass.
set(cases
    "the tree's test programs|${UNIT}|${E2E}|passes"
    "a failing test program|${FAILS}|${E2E}|fails"
    "a crashing test program|${UNIT}|${CRASHES}|fails"
    "a missing test program|${UNIT}|none|fails")
foreach(case IN LISTS cases)
    string(REPLACE "|" ";" case "${case}")
    list(GET case 0 name)
    list(GET case 1 unit)
    list(GET case 2 e2e)
    list(GET case 3 expected)
    file(REMOVE_RECURSE ${WORK})
    file(MAKE_DIRECTORY ${WORK}/release ${WORK}/tests/${ARCHITECTURE})
    file(COPY_FILE ${PROGRAM} ${WORK}/release/${released})
    file(COPY_FILE ${unit} ${WORK}/tests/${ARCHITECTURE}/unit_tests.exe)
    if(NOT e2e STREQUAL none)
        file(COPY_FILE ${e2e} ${WORK}/tests/${ARCHITECTURE}/e2e_tests.exe)
    endif()
    windows_path(release ${WORK}/release)
    windows_path(tests ${WORK}/tests)
    windows_path(screenshots ${WORK}/screenshots)
    execute_process(COMMAND ${CMD} /c ${script} ${release} ${tests} ${ARCHITECTURE} ${screenshots} RESULT_VARIABLE status)
    message(STATUS "${name}: run-tests.cmd exited with ${status}")
    if(status EQUAL 0 AND expected STREQUAL fails OR NOT status EQUAL 0 AND expected STREQUAL passes)
        message(FATAL_ERROR "with ${name}, run-tests.cmd exited with ${status}: it should have ${expected}")
    endif()
endforeach()
