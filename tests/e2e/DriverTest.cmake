# The driver's own test, of what the CI workflow's Windows job relies on it for:
# --describe-desktop prints every fact and exits 0, and --screenshots=DIR, against a
# stand-in that shows the wrong icon, fails and keeps a picture of the whole screen, its
# description with the foreground before and after the box, and the icon expected and the
# region compared, of one size. Against a stand-in whose box has no text control, an
# empty message passes and another fails.
#   cmake "-DRUN=LAUNCHER...;e2e_tests.exe" -DSTAND_IN=... -DTEXTLESS=... -DFOLDER=... -P DriverTest.cmake
execute_process(COMMAND ${RUN} --describe-desktop RESULT_VARIABLE status OUTPUT_VARIABLE description)
message(STATUS "--describe-desktop exited with ${status} and said:\n${description}")
set(facts "Windows: [0-9]+\\.[0-9]+ build [0-9]+" "Wine: [0-9][^\n]*" "Session: [0-9]+" "Window station and desktop: [^\n]+\\\\[^\n]+"
    "Screen: [0-9]+x[0-9]+ pixels, [0-9]+ DPI" "Work area: -?[0-9]+,-?[0-9]+ to [0-9]+,[0-9]+"
    "Foreground window: (none|class [^\n]*, process [0-9]+ [^\n]+)" "Last input: [0-9]+ ms ago"
    "Foreground lock timeout: [0-9]+ ms")
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
file(READ "${kept}.txt" kept_description)
if(status EQUAL 0 OR NOT EXISTS "${kept}.png"
   OR NOT kept_description MATCHES "\nForeground window before the box was started: [^\n]+\nForeground window after the box closed: ")
    message(FATAL_ERROR "against a box with the wrong icon, the tests exited with ${status} and kept no screen,"
                        " or this description:\n${kept_description}")
endif()
foreach(case "ShowsAnEmptyMessageAsNoText;0" "ShowsTheMessageUnderTheTitle;[^0]")
    list(GET case 0 name)
    list(GET case 1 expected)
    execute_process(COMMAND ${RUN} --program=${TEXTLESS} --test-case=*${name} RESULT_VARIABLE status OUTPUT_QUIET)
    if(NOT status MATCHES "^${expected}")
        message(FATAL_ERROR "against a box without a text control, ${name} exited with ${status}")
    endif()
endforeach()
# A PNG's size is in its header, at bytes 16 to 23.
function(png_size file variable)
    file(READ "${file}" size HEX OFFSET 16 LIMIT 8)
    string(SUBSTRING ${size} 0 8 width)
    string(SUBSTRING ${size} 8 8 height)
    math(EXPR width "0x${width}")
    math(EXPR height "0x${height}")
    set(${variable} "${width}x${height}" PARENT_SCOPE)
endfunction()
png_size("${kept}.png" screen_size)
string(REGEX MATCH "Screen: ([0-9]+x[0-9]+)" screen "${description}")
png_size("${kept}, the icon expected.png" expected_size)
png_size("${kept}, the region compared.png" compared_size)
if(NOT screen_size STREQUAL CMAKE_MATCH_1 OR NOT expected_size STREQUAL compared_size OR expected_size STREQUAL screen_size)
    message(FATAL_ERROR "the pictures are ${screen_size}, ${expected_size} and ${compared_size}; the screen ${CMAKE_MATCH_1}")
endif()
message(STATUS "a failure kept the whole ${screen_size} screen, and the ${expected_size} icon expected and region compared")
