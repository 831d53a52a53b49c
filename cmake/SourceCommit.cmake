# HALVORN_COMMIT: the commit whose tree the sources are, for what a build says of itself;
# "an unknown commit" where the source folder is no git checkout of its own (a copy, or
# a folder inside another checkout).
set(HALVORN_COMMIT "an unknown commit")
find_package(Git QUIET)
if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} rev-parse --show-toplevel HEAD
                    RESULT_VARIABLE status OUTPUT_VARIABLE said ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    string(REPLACE "\n" ";" said "${said}")
    list(LENGTH said parts)
    if(status EQUAL 0 AND parts EQUAL 2)
        list(GET said 0 top)
        file(REAL_PATH ${PROJECT_SOURCE_DIR} source)
        file(REAL_PATH ${top} top)
        if(top STREQUAL source)
            list(GET said 1 HALVORN_COMMIT)
        endif()
    endif()
endif()
