# Lays out a release's program and test programs as the Windows job of the CI workflow
# gets them, with the script that gathers them there, then runs its step's line under
# Wine's cmd as GitHub Actions runs a `shell: cmd` step: the line in a batch file of its
# own after "@echo off", started as %ComSpec% /D /E:ON /V:OFF /S /C "CALL "that-file"".
# With this tree's test programs it must pass; with a test program that fails, crashes,
# is missing or needs a DLL that lies only on the caller's PATH, it must fail.
#   cmake -DWORK=... -DWORKFLOW=ci.yml -DGATHER=gather-windows-tests -DTREE=... -DARCHITECTURE=x86|x64
#         -DPROGRAM=... -DUNIT=... -DE2E=... -DFAILS=... -DCRASHES=... -DNEEDS_LIBRARY=...
#         -DLIBRARY=... "-DCMD=LAUNCHER...;cmd" -P RunAsOnWindows.cmake
function(windows_path variable path)
    string(REPLACE "/" "\\" path "Z:${path}")
    set(${variable} ${path} PARENT_SCOPE)
endfunction()

set(released halvorn.exe)
if(ARCHITECTURE STREQUAL x64)
    set(released halvorn-x64.exe)
endif()
# The step's own line, for this tree's architecture alone.
file(STRINGS ${WORKFLOW} step REGEX "^ +run: tests\\\\windows\\\\run-tests\\.cmd ")
string(REGEX REPLACE "^ +run: " "" step "${step}")
string(REPLACE "\"x86 x64\"" "${ARCHITECTURE}" step "${step}")
windows_path(library_folder ${WORK}/on-path)

# Each case: its name, the unit test program, the end-to-end one (or none), whether
# run-tests.cmd must pass, and what it must say.
set(cases
    "the tree's test programs|${UNIT}|${E2E}|passes|PATH=C:.windows.System32.C:.windows\r?\n"
    "a failing test program|${FAILS}|${E2E}|fails|unit_tests.exe exited with 1\r?\n"
    "a crashing test program|${UNIT}|${CRASHES}|fails|e2e_tests.exe exited with -1073740791\r?\n1 test program"
    "a missing test program|${UNIT}|none|fails|e2e_tests.exe\" is missing"
    "a test program whose DLL is only on the caller's PATH|${NEEDS_LIBRARY}|${E2E}|fails|unit_tests.exe exited with -1073741515")
foreach(case IN LISTS cases)
    string(REPLACE "|" ";" case "${case}")
    list(GET case 0 name)
    list(GET case 1 unit)
    list(GET case 2 e2e)
    list(GET case 3 expected)
    list(GET case 4 saying)
    file(REMOVE_RECURSE ${WORK})
    file(MAKE_DIRECTORY ${WORK}/release ${WORK}/temp)
    file(COPY ${CMAKE_CURRENT_LIST_DIR}/run-tests.cmd DESTINATION ${WORK}/tests/windows)
    file(COPY ${LIBRARY} DESTINATION ${WORK}/on-path)
    file(COPY_FILE ${PROGRAM} ${WORK}/release/${released})
    # Gathered as the job's Debian side gathers it, this tree standing for both architectures.
    execute_process(COMMAND ${GATHER} ${WORK}/artifact ${WORK}/release ${TREE} ${TREE} COMMAND_ERROR_IS_FATAL ANY)
    file(COPY_FILE ${unit} ${WORK}/artifact/tests/${ARCHITECTURE}/unit_tests.exe)
    if(e2e STREQUAL none)
        file(REMOVE ${WORK}/artifact/tests/${ARCHITECTURE}/e2e_tests.exe)
    else()
        file(COPY_FILE ${e2e} ${WORK}/artifact/tests/${ARCHITECTURE}/e2e_tests.exe)
    endif()
    windows_path(step_file ${WORK}/step.cmd)
    windows_path(runner ${WORK}/runner.cmd)
    file(WRITE ${WORK}/step.cmd "@echo off\r\n${step}\r\n")
    # cmd starts the step's cmd with exactly this command line, as the runner does.
    file(WRITE ${WORK}/runner.cmd "@%ComSpec% /D /E:ON /V:OFF /S /C \"CALL \"${step_file}\"\"\r\n@exit /b %errorlevel%\r\n")
    windows_path(temp ${WORK}/temp)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env RUNNER_TEMP=${temp} WINEPATH=${library_folder} ${CMD} /c ${runner}
                    WORKING_DIRECTORY ${WORK} RESULT_VARIABLE status OUTPUT_VARIABLE said ERROR_VARIABLE said)
    message(STATUS "${name}: the step exited with ${status} and said:\n${said}")
    if(status EQUAL 0 AND expected STREQUAL fails OR NOT status EQUAL 0 AND expected STREQUAL passes
       OR NOT said MATCHES "${saying}")
        message(FATAL_ERROR "with ${name}, the step exited with ${status}: it should have ${expected}, saying ${saying}")
    endif()
endforeach()
