# scripts/release refuses, with exit status 2 and the earlier dist/ left as it was: a
# changed tree, also when git will not read it (another user's checkout), an untracked
# file that the user's configuration hides, a certificate without its key, and a key of
# another certificate. Leaves two copies of the sources and throwaway certificates.
include(${CMAKE_CURRENT_LIST_DIR}/Common.cmake)

file(REMOVE_RECURSE ${WORK})
foreach(copy first second/elsewhere)
    file(COPY ${SOURCE}/ DESTINATION ${WORK}/${copy}
         PATTERN .git EXCLUDE PATTERN build EXCLUDE PATTERN dist EXCLUDE)
endforeach()
run(git -C ${first} init --quiet)
run(git -C ${first} add --all)
run(git -C ${first} -c user.name=Halvorn -c user.email=halvorn@invalid commit --quiet -m release)

# Two signers of one name, a timestamp authority under a root of our own (which
# verify-release is given with --ca-file), and a self-signed one.
foreach(signer genuine other tsa-root evil-tsa)
    set(subject "/CN=Halvorn Test Signer")
    set(usage codeSigning)
    if(signer MATCHES "tsa")
        set(subject "/CN=${signer}")
        set(usage critical,timeStamping)
    endif()
    run(openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj ${subject}
        -addext extendedKeyUsage=${usage} -keyout ${WORK}/${signer}-key.pem -out ${WORK}/${signer}.pem)
endforeach()
run(openssl req -newkey rsa:2048 -nodes -subj /CN=tsa -keyout ${WORK}/tsa-key.pem -out ${WORK}/tsa.csr)
file(WRITE ${WORK}/tsa.ext "extendedKeyUsage=critical,timeStamping\n")
run(openssl x509 -req -in ${WORK}/tsa.csr -CA ${WORK}/tsa-root.pem -CAkey ${WORK}/tsa-root-key.pem -days 2
    -extfile ${WORK}/tsa.ext -out ${WORK}/tsa.pem)
file(READ ${WORK}/tsa.pem tsa)
file(READ ${WORK}/tsa-root.pem tsa_root)
file(WRITE ${WORK}/tsa-chain.pem "${tsa}${tsa_root}")

file(MAKE_DIRECTORY ${first}/dist)
file(WRITE ${first}/dist/earlier "an earlier release")
function(expect_refusal name saying)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE refused OUTPUT_QUIET ERROR_VARIABLE reason)
    if(NOT refused EQUAL 2 OR NOT EXISTS ${first}/dist/earlier OR NOT reason MATCHES "${saying}")
        message(FATAL_ERROR "with ${name}, exited with ${refused}, removed the earlier release, or said:\n${reason}")
    endif()
    message(STATUS "refused, with ${name}: ${reason}")
endfunction()
set(release ${first}/scripts/release)
file(APPEND ${first}/README.md "One uncommitted line.\n")
expect_refusal("an uncommitted change" "README.md" ${release})
expect_refusal("an uncommitted change, in a checkout git will not read" "safe.directory"
               env GIT_TEST_ASSUME_DIFFERENT_OWNER=1 ${release})
run(git -C ${first} checkout README.md)
run(git -C ${first} config status.showUntrackedFiles no)
file(WRITE ${first}/untracked.txt "")
expect_refusal("an untracked file that git status is set to hide" "untracked.txt" ${release})
file(REMOVE ${first}/untracked.txt)
expect_refusal("a certificate without its key" "--key" ${release} --certificate ${first}/LICENSE)
expect_refusal("a key of another certificate" "does not belong"
               ${release} --certificate ${WORK}/genuine.pem --key ${WORK}/other-key.pem)
