# The winget and Scoop manifests published beside the signed files describe those files;
# a release folder whose programs are not those of its SHA256SUMS, a URL base that is not
# plain https, and an identifier that winget refuses are refused.
include(${CMAKE_CURRENT_LIST_DIR}/Common.cmake)

execute_process(COMMAND ${python} ${CMAKE_CURRENT_LIST_DIR}/check_manifests.py ${downloads} ${downloads}
                        ${url_base} Example.Halvorn RESULT_VARIABLE status ERROR_VARIABLE said)
if(status)
    message(FATAL_ERROR "the published manifests are not as winget and Scoop require:\n${said}")
endif()
file(REMOVE_RECURSE ${WORK}/tampered ${WORK}/refused-manifests)
file(COPY ${downloads}/ DESTINATION ${WORK}/tampered)
file(COPY_FILE ${unsigned}/halvorn.exe ${WORK}/tampered/halvorn.exe)
foreach(refusal "${WORK}/tampered;${url_base};Example.Halvorn" "${downloads};http://example.invalid/halvorn/;Example.Halvorn"
                "${downloads};${url_base}?token=abc;Example.Halvorn"
                "${downloads};${url_base};Example.HalvornHalvornHalvornHalvornHalvo")
    list(GET refusal 0 dist)
    list(GET refusal 1 base)
    list(GET refusal 2 identifier)
    execute_process(COMMAND ${first}/scripts/package-manifests --dist ${dist} --url-base ${base}
                            --identifier ${identifier} --out ${WORK}/refused-manifests
                    RESULT_VARIABLE status ERROR_VARIABLE said)
    if(NOT status EQUAL 2 OR EXISTS ${WORK}/refused-manifests)
        message(FATAL_ERROR "manifests for ${dist} under ${base} as ${identifier}: exited with ${status}, said ${said}")
    endif()
endforeach()
