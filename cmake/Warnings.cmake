# halvorn_enable_warnings(target): the project's warning set on one target.
# Warnings become errors through CMAKE_COMPILE_WARNING_AS_ERROR, which the presets turn on.
function(halvorn_enable_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /permissive-)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion)
    endif()
endfunction()
