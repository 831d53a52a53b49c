# halvorn_enable_sanitizers(target): AddressSanitizer and UndefinedBehaviorSanitizer
# on one target when HALVORN_SANITIZE is on (the native test preset turns it on).
option(HALVORN_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

function(halvorn_enable_sanitizers target)
    if(NOT HALVORN_SANITIZE)
        return()
    endif()
    set(flags -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_compile_options(${target} PRIVATE ${flags})
    target_link_options(${target} PRIVATE ${flags})
endfunction()
