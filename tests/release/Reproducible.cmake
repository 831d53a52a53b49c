# Both copies of the sources, in two folders, write the same zip; it holds exactly the
# programs and the documents that its README links, every link of that README resolves
# inside it, SHA256SUMS verifies, and its halvorn.exe is the program under test.
include(${CMAKE_CURRENT_LIST_DIR}/Common.cmake)

run(${first}/scripts/release)
run(${WORK}/second/elsewhere/scripts/release)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${first}/dist/${zip} ${WORK}/second/elsewhere/dist/${zip}
                RESULT_VARIABLE differ)
if(differ)
    message(FATAL_ERROR "releases from two folders differ")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${first}/dist/${zip} OUTPUT_VARIABLE entries COMMAND_ERROR_IS_FATAL ANY)
set(expected "CHANGELOG.md\nCONTRIBUTING.md\nLICENSE\nREADME.md\ndocs/releasing.md\ndocs/screenshot.png\n"
             "docs/unicode.png\ndocs/verifying.md\nhalvorn.exe\nx64/halvorn.exe\n")
string(CONCAT expected ${expected})
if(NOT entries STREQUAL expected)
    message(FATAL_ERROR "the zip holds:\n${entries}instead of:\n${expected}")
endif()
run(sha256sum -c SHA256SUMS WORKING_DIRECTORY ${first}/dist)

file(REMOVE_RECURSE ${WORK}/unzipped)
file(MAKE_DIRECTORY ${WORK}/unzipped)
run(${CMAKE_COMMAND} -E tar xf ${first}/dist/${zip} WORKING_DIRECTORY ${WORK}/unzipped)
file(GLOB_RECURSE documents ${WORK}/unzipped/*.md)
execute_process(COMMAND ${first}/scripts/check-links --root ${WORK}/unzipped ${documents}
                RESULT_VARIABLE broken OUTPUT_VARIABLE said)
if(broken)
    message(FATAL_ERROR "the zip's documents link what the zip does not hold:\n${said}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${PROGRAM} ${WORK}/unzipped/halvorn.exe RESULT_VARIABLE differ)
if(differ)
    message(FATAL_ERROR "the released halvorn.exe is not the one under test, ${PROGRAM}")
endif()
