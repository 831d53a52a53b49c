# Runs scripts/release in two copies of the sources, in two folders, and fails unless
# both write the same zip, it holds exactly the program, its x64 build, README.md and
# LICENSE, SHA256SUMS verifies, and its halvorn.exe is byte for byte the one under test.
#   cmake -DSOURCE=... -DVERSION=... -DPROGRAM=... -DWORK=... -P Release.cmake
file(REMOVE_RECURSE ${WORK})
foreach(copy first second/elsewhere)
    file(COPY ${SOURCE}/ DESTINATION ${WORK}/${copy}
         PATTERN .git EXCLUDE PATTERN build EXCLUDE PATTERN dist EXCLUDE)
    execute_process(COMMAND ${WORK}/${copy}/scripts/release COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
endforeach()

set(dist ${WORK}/first/dist)
set(zip ${dist}/halvorn-${VERSION}-windows.zip)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${zip} ${WORK}/second/elsewhere/dist/halvorn-${VERSION}-windows.zip
                RESULT_VARIABLE differ)
if(differ)
    message(FATAL_ERROR "releases from two folders differ")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${zip} OUTPUT_VARIABLE entries COMMAND_ERROR_IS_FATAL ANY)
set(expected "halvorn.exe\nx64/halvorn.exe\nREADME.md\nLICENSE\n")
if(NOT entries STREQUAL expected)
    message(FATAL_ERROR "the zip holds:\n${entries}instead of:\n${expected}")
endif()

execute_process(COMMAND sha256sum -c SHA256SUMS WORKING_DIRECTORY ${dist} COMMAND_ERROR_IS_FATAL ANY)

file(MAKE_DIRECTORY ${WORK}/unzipped)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${zip} WORKING_DIRECTORY ${WORK}/unzipped COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${PROGRAM} ${WORK}/unzipped/halvorn.exe RESULT_VARIABLE differ)
if(differ)
    message(FATAL_ERROR "the released halvorn.exe is not the one under test, ${PROGRAM}")
endif()
message(STATUS "two folders, one verifiable release holding the program under test")
