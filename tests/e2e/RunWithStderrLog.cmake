# Runs a test program with its standard error going to a file, and names that file
# to it in HALVORN_STDERR_LOG: Wine writes the relay trace of every program it starts
# to the starter's standard error, and a program can read back only a file.
#   cmake -DLOG=FILE -P RunWithStderrLog.cmake COMMAND [ARGUMENTS...]
set(command "")
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
    if(found_script)
        list(APPEND command "${CMAKE_ARGV${i}}")
    elseif(CMAKE_ARGV${i} MATCHES "RunWithStderrLog\\.cmake$")
        set(found_script TRUE)
    endif()
endforeach()

set(ENV{HALVORN_STDERR_LOG} "${LOG}")
execute_process(COMMAND ${command} ERROR_FILE "${LOG}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${command} failed (${status}); its standard error is in ${LOG}")
endif()
