# doctest, the header-only test framework (Debian's doctest-dev), as the target `doctest`;
# halvorn_add_doctest_cases() to register each case of a test program with ctest, and
# halvorn_check_doctest_cases() to make sure that none was missed.

# The header is copied into the build tree so that a cross build reaches it without
# putting the host's /usr/include, and with it the C library's headers, on its path.
find_file(HALVORN_DOCTEST_HEADER doctest/doctest.h PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
configure_file(${HALVORN_DOCTEST_HEADER} ${CMAKE_BINARY_DIR}/doctest/doctest/doctest.h COPYONLY)

add_library(doctest INTERFACE)
target_include_directories(doctest SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/doctest)
if(MINGW)
    # The win32 thread model of the cross compiler has no std::mutex.
    target_compile_definitions(doctest INTERFACE DOCTEST_CONFIG_NO_MULTITHREADING)
    # Under Wine the test programs find no MinGW runtime DLLs: link them in.
    target_link_options(doctest INTERFACE -static)
endif()

# halvorn_add_doctest_cases(TARGET SOURCE [LAUNCHER ...] [ARGS ...] [PROPERTIES ...]): one
# ctest test per TEST_CASE("...") at the start of a line in SOURCE, named as the case,
# run alone through doctest's --test-case filter, by LAUNCHER if one is given, and under
# Wine in a cross build.
function(halvorn_add_doctest_cases target source)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "LAUNCHER;ARGS;PROPERTIES")
    set(program ${arg_LAUNCHER} ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${target}>)
    file(STRINGS ${source} lines REGEX "^TEST_CASE\\(\"")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    foreach(line IN LISTS lines)
        string(REGEX REPLACE "^TEST_CASE\\(\"([^\"]+)\".*" "\\1" name "${line}")
        string(REPLACE "," "\\," filter "${name}")
        add_test(NAME "${name}" COMMAND ${program} "--test-case=${filter}" --no-version ${arg_ARGS})
        if(arg_PROPERTIES)
            set_tests_properties("${name}" PROPERTIES ${arg_PROPERTIES})
        endif()
        set_property(TARGET ${target} APPEND PROPERTY HALVORN_DOCTEST_CASES "${name}")
    endforeach()
endfunction()

# halvorn_check_doctest_cases(TARGET NAME [LAUNCHER ...] [ARGS ...] [PROPERTIES ...]): a test NAME that
# fails unless the cases registered for TARGET are exactly those the program itself lists.
function(halvorn_check_doctest_cases target name)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "LAUNCHER;ARGS;PROPERTIES")
    set(program ${arg_LAUNCHER} ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${target}> ${arg_ARGS})
    get_property(cases TARGET ${target} PROPERTY HALVORN_DOCTEST_CASES)
    list(SORT cases)
    string(REPLACE ";" "\n" cases "${cases}")
    set(registered ${CMAKE_CURRENT_BINARY_DIR}/${target}-registered.txt)
    file(WRITE ${registered} "${cases}\n")
    add_test(NAME "${name}"
             COMMAND ${CMAKE_COMMAND} "-DCOMMAND=${program}" -DREGISTERED=${registered}
                     -P ${PROJECT_SOURCE_DIR}/cmake/DoctestCheckCases.cmake)
    if(arg_PROPERTIES)
        set_tests_properties("${name}" PROPERTIES ${arg_PROPERTIES})
    endif()
endfunction()
