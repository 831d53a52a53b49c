# The publish job's work, on the tested release laid out outside the tree as the job gets
# it: unsigned, the tested files as they are; signed with a throwaway certificate, the same
# programs signed, as a user downloads them, which verify and still pass the file check.
# Refused before anything is removed or written: OUT that is TESTED, the checkout or a
# folder that holds it, one signing secret without the other, an identifier that winget
# refuses, a tag that is not v and the version, and signed programs that are not the
# tested ones.
include(${CMAKE_CURRENT_LIST_DIR}/Common.cmake)

file(REMOVE_RECURSE ${tested} ${unsigned} ${downloads})
file(COPY ${first}/dist/ DESTINATION ${tested})
run(${first}/scripts/publish ${tested} ${unsigned} ${url_base} Example.Halvorn)
foreach(file ${zip} halvorn.exe halvorn-x64.exe SHA256SUMS BUILDINFO)
    run(${CMAKE_COMMAND} -E compare_files ${tested}/${file} ${unsigned}/${file})
endforeach()

# Other tags: another version, and one that v and the version begin with.
string(REPLACE "v${VERSION}" "v9.9.9" other_tag ${url_base})
string(REGEX REPLACE "v${VERSION}/$" "" prefix_tag ${url_base})
string(REGEX REPLACE ".$" "/" prefix_tag "${prefix_tag}v${VERSION}")
foreach(refusal "${tested};Example.Halvorn;CODE_SIGNING_KEY=" "${first};Example.Halvorn;CODE_SIGNING_KEY="
                "${WORK};Example.Halvorn;CODE_SIGNING_KEY=" "${WORK}/new;Example.Halvorn;CODE_SIGNING_KEY=key"
                "${WORK}/new;Halvorn;CODE_SIGNING_KEY=" "${WORK}/new;Example.Halvorn;CODE_SIGNING_KEY=;${other_tag}"
                "${WORK}/new;Example.Halvorn;CODE_SIGNING_KEY=;${prefix_tag}")
    list(GET refusal 0 out)
    list(GET refusal 1 identifier)
    list(GET refusal 2 secret)
    list(APPEND refusal ${url_base})
    list(GET refusal 3 base)
    execute_process(COMMAND env ${secret} ${first}/scripts/publish ${tested} ${out} ${base} ${identifier}
                    RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE said)
    execute_process(COMMAND sha256sum --check --quiet SHA256SUMS WORKING_DIRECTORY ${tested} RESULT_VARIABLE damaged)
    if(NOT status EQUAL 2 OR damaged OR NOT EXISTS ${unsigned}/halvorn.json OR NOT EXISTS ${first}/README.md
       OR EXISTS ${WORK}/new)
        message(FATAL_ERROR "publish to ${out} as ${identifier} ${secret}: exited with ${status}, said ${said}")
    endif()
endforeach()

file(READ ${WORK}/genuine-chain.pem certificate)
file(READ ${WORK}/genuine-key.pem key)
set(signing_secrets env "CODE_SIGNING_CERTIFICATE=${certificate}" "CODE_SIGNING_KEY=${key}"
    "TIMESTAMP_URL=$ENV{HALVORN_TEST_TSA}tsa")
run(${signing_secrets} ${first}/scripts/publish ${tested} ${downloads} ${url_base} Example.Halvorn)
foreach(program halvorn.exe halvorn-x64.exe)
    run(osslsigncode verify -CAfile ${WORK}/root.pem -CRLfile ${WORK}/crls.pem -TSA-CAfile ${WORK}/tsa-root.pem
        -TSA-CRLfile ${WORK}/tsa-crls.pem -in ${downloads}/${program})
endforeach()
run(${CHECK} ${downloads}/halvorn.exe x86 ${CHECK_ARGUMENTS})
run(${CHECK} ${downloads}/halvorn-x64.exe x64 ${CHECK_ARGUMENTS})

set(changed ${WORK}/changed-release)
foreach(program halvorn.exe halvorn-x64.exe)
    file(REMOVE_RECURSE ${changed} ${WORK}/refused)
    file(COPY ${tested}/ DESTINATION ${changed})
    run(${python} ${CMAKE_CURRENT_LIST_DIR}/tamper.py code ${tested}/${program} ${changed}/${program})
    execute_process(COMMAND sha256sum ${zip} halvorn.exe halvorn-x64.exe OUTPUT_FILE ${changed}/SHA256SUMS
                    WORKING_DIRECTORY ${changed} COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND ${signing_secrets} ${first}/scripts/publish ${changed} ${WORK}/refused ${url_base}
                            Example.Halvorn RESULT_VARIABLE refused OUTPUT_QUIET ERROR_QUIET)
    if(NOT refused OR EXISTS ${WORK}/refused)
        message(FATAL_ERROR "a signed ${program} that is not the tested one was published")
    endif()
endforeach()
