# Lays out a release's program and this tree's test programs as the Windows job of the
# CI workflow gets them, then runs run-tests.cmd on them as that job does, under Wine's cmd.
#   cmake -DWORK=... -DARCHITECTURE=x86|x64 -DPROGRAM=... "-DTESTS=UNIT;E2E" "-DCMD=LAUNCHER...;cmd" -P RunAsOnWindows.cmake
file(REMOVE_RECURSE ${WORK})
set(released halvorn.exe)
if(ARCHITECTURE STREQUAL x64)
    set(released halvorn-x64.exe)
endif()
file(MAKE_DIRECTORY ${WORK}/release)
file(COPY_FILE ${PROGRAM} ${WORK}/release/${released})
file(COPY ${TESTS} DESTINATION ${WORK}/tests/${ARCHITECTURE})

function(windows_path variable path)
    string(REPLACE "/" "\\" path "Z:${path}")
    set(${variable} ${path} PARENT_SCOPE)
endfunction()
windows_path(script ${CMAKE_CURRENT_LIST_DIR}/run-tests.cmd)
windows_path(release ${WORK}/release)
windows_path(tests ${WORK}/tests)
execute_process(COMMAND ${CMD} /c ${script} ${release} ${tests} ${ARCHITECTURE} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "run-tests.cmd exited with ${status}")
endif()
