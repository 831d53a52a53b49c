# The driver's own test, of what the CI workflow's Windows job relies on it for:
# --describe-desktop prints every fact and exits 0, and --screenshots=DIR, against a
# stand-in that shows the wrong icon, fails and keeps a picture of the whole screen.
#   cmake "-DRUN=LAUNCHER...;e2e_tests.exe" -DSTAND_IN=... -DFOLDER=... -P DriverTest.cmake
execute_process(COMMAND ${RUN} --describe-desktop RESULT_VARIABLE status OUTPUT_VARIABLE description)
message(STATUS "--describe-desktop exited with ${status} and said:\n${description}")
set(facts "Windows: [0-9]+\\.[0-9]+ build [0-9]+" "Wine: [0-9][^\n]*" "Session: [0-9]+" "Window station and desktop: [^\n]+\\\\[^\n]+"
    "Screen: [0-9]+x[0-9]+ pixels, [0-9]+ DPI" "Work area: -?[0-9]+,-?[0-9]+ to [0-9]+,[0-9]+"
    "Foreground window: (none|class [^\n]*, process [0-9]+ [^\n]+)" "Foreground lock timeout: [0-9]+ ms")
foreach(fact IN LISTS facts)
    if(NOT description MATCHES "(^|\n)${fact}\n")
        message(FATAL_ERROR "--describe-desktop says nothing that matches ${fact}")
    endif()
endforeach()
if(NOT status EQUAL 0)
    message(FATAL_ERROR "--describe-desktop exited with ${status}")
endif()

file(REMOVE_RECURSE ${FOLDER})
execute_process(COMMAND ${RUN} --program=${STAND_IN} --screenshots=${FOLDER}
                        --test-case=*ShowsTheUsageTextUnderHalvornWithoutArguments RESULT_VARIABLE status)
set(kept "${FOLDER}/E2E, ShowsTheUsageTextUnderHalvornWithoutArguments")
if(status EQUAL 0 OR NOT EXISTS "${kept}.png" OR NOT EXISTS "${kept}.txt")
    message(FATAL_ERROR "against a box with the wrong icon, the tests exited with ${status} and kept no screen")
endif()
# A PNG's size is in its header, at bytes 16 to 23.
file(READ "${kept}.png" size HEX OFFSET 16 LIMIT 8)
string(SUBSTRING ${size} 0 8 width)
string(SUBSTRING ${size} 8 8 height)
math(EXPR width "0x${width}")
math(EXPR height "0x${height}")
string(REGEX MATCH "Screen: ([0-9]+)x([0-9]+)" screen "${description}")
if(NOT "${width}x${height}" STREQUAL "${CMAKE_MATCH_1}x${CMAKE_MATCH_2}")
    message(FATAL_ERROR "the picture is ${width}x${height}, the screen ${CMAKE_MATCH_1}x${CMAKE_MATCH_2}")
endif()
message(STATUS "a failure kept the whole ${width}x${height} screen")
