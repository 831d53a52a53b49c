# Runs a doctest program's --list-test-cases and fails unless the cases it lists are
# exactly those in REGISTERED, one name per line: a case that the registration did not
# find would otherwise never run.
#   cmake "-DCOMMAND=PROGRAM;ARGUMENTS..." -DREGISTERED=FILE -P DoctestCheckCases.cmake
execute_process(COMMAND ${COMMAND} --list-test-cases --no-version OUTPUT_VARIABLE output COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "\r" "" output "${output}")
string(REPLACE "\n" ";" lines "${output}")
set(listed "")
foreach(line IN LISTS lines)
    if(line AND NOT line MATCHES "^(\\[doctest\\]|====)")
        list(APPEND listed "${line}")
    endif()
endforeach()
list(SORT listed)

file(STRINGS ${REGISTERED} registered)
if(NOT listed STREQUAL registered)
    message(FATAL_ERROR "the program has the cases\n  ${listed}\nbut ctest runs\n  ${registered}")
endif()
list(LENGTH listed count)
message(STATUS "all ${count} cases run under ctest")
