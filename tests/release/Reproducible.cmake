# Both checkouts of the sources, in two folders, write the same zip; it holds exactly the
# two programs and two text files for Windows (CRLF, ASCII, no line wider than Notepad
# on XP shows, 79), the README naming the version, the commit of a development build and
# the home, and linking nothing in the zip; SHA256SUMS verifies, and its halvorn.exe is
# the program under test.
include(${CMAKE_CURRENT_LIST_DIR}/Common.cmake)

run(${first}/scripts/release)
run(${WORK}/second/elsewhere/scripts/release)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${first}/dist/${zip} ${WORK}/second/elsewhere/dist/${zip}
                RESULT_VARIABLE differ)
if(differ)
    message(FATAL_ERROR "releases from two folders differ")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${first}/dist/${zip} OUTPUT_VARIABLE entries COMMAND_ERROR_IS_FATAL ANY)
set(expected "LICENSE.txt\nREADME.txt\nhalvorn.exe\nx64/halvorn.exe\n")
if(NOT entries STREQUAL expected)
    message(FATAL_ERROR "the zip holds:\n${entries}instead of:\n${expected}")
endif()
run(sha256sum -c SHA256SUMS WORKING_DIRECTORY ${first}/dist)

file(REMOVE_RECURSE ${WORK}/unzipped)
file(MAKE_DIRECTORY ${WORK}/unzipped)
run(${CMAKE_COMMAND} -E tar xf ${first}/dist/${zip} WORKING_DIRECTORY ${WORK}/unzipped)
# CMake's file(READ) drops carriage returns: Python reads the bytes.
foreach(text README.txt LICENSE.txt)
    execute_process(COMMAND ${python} -c "import sys; d = open(sys.argv[1], 'rb').read(); \
sys.exit(not d.isascii() or d.count(b'\\n') != d.count(b'\\r\\n') or not d.endswith(b'\\r\\n') \
or max(map(len, d.split(b'\\r\\n'))) > 79)"
                    ${WORK}/unzipped/${text} RESULT_VARIABLE bad)
    if(bad)
        message(FATAL_ERROR "${text} has a line ending that is not CRLF, a character that is not ASCII, or a line"
                            " over 79 characters")
    endif()
endforeach()
file(READ ${WORK}/unzipped/README.txt readme)
execute_process(COMMAND git -C ${first} rev-parse HEAD OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT VERSION MATCHES "-")
    set(commit "")  # a release names its tag, not its commit
endif()
if(NOT readme MATCHES "Halvorn ${VERSION}\n" OR NOT readme MATCHES "${HOME}\n" OR readme MATCHES "\\.md"
   OR NOT readme MATCHES "${commit}")
    message(FATAL_ERROR "README.txt does not name Halvorn ${VERSION}, ${HOME} and its commit, or names a document it lacks")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${PROGRAM} ${WORK}/unzipped/halvorn.exe RESULT_VARIABLE differ)
if(differ)
    message(FATAL_ERROR "the released halvorn.exe is not the one under test, ${PROGRAM}")
endif()
