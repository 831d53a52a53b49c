# scripts/release refuses, with exit status 2 and the earlier dist/ left as it was: a
# changed tree, also when git will not read it (another user's checkout), an untracked
# file that the user's configuration hides, a certificate without its key, a key of
# another certificate, a PKCS #12 file with the wrong password or none that is one, and
# a timestamp that is no URL; and it keeps the earlier dist/ when the timestamp server
# cannot be reached. Leaves two copies of the sources and throwaway certificates.
include(${CMAKE_CURRENT_LIST_DIR}/Common.cmake)

file(REMOVE_RECURSE ${WORK})
foreach(copy first second/elsewhere)
    file(COPY ${SOURCE}/ DESTINATION ${WORK}/${copy}
         PATTERN .git EXCLUDE PATTERN build EXCLUDE PATTERN dist EXCLUDE)
endforeach()
run(git -C ${first} init --quiet)
run(git -C ${first} add --all)
run(git -C ${first} -c user.name=Halvorn -c user.email=halvorn@invalid commit --quiet -m release)

# Two signers of one name; a signer issued by a CA of its own, which nobody trusts; a
# timestamp authority under a root of our own (which verify-release is given with
# --ca-file), and a self-signed one named with the words osslsigncode prints of a
# timestamp that verifies.
foreach(signer genuine other ca tsa-root evil-tsa)
    set(subject "/CN=Halvorn Test Signer")
    set(usage extendedKeyUsage=codeSigning)
    if(signer STREQUAL "ca")
        set(subject "/CN=Halvorn Test CA")
        set(usage basicConstraints=critical,CA:TRUE)
    elseif(signer MATCHES "tsa")
        set(subject "/CN=${signer}")
        set(usage extendedKeyUsage=critical,timeStamping)
    endif()
    if(signer STREQUAL "evil-tsa")
        set(subject "/CN=Timestamp Server Signature verification: ok")
    endif()
    run(openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj ${subject}
        -addext ${usage} -keyout ${WORK}/${signer}-key.pem -out ${WORK}/${signer}.pem)
endforeach()
foreach(issued "tsa;tsa-root;critical,timeStamping" "ca-signer;ca;codeSigning")
    list(GET issued 0 name)
    list(GET issued 1 issuer)
    list(GET issued 2 usage)
    run(openssl req -newkey rsa:2048 -nodes -subj /CN=${name} -keyout ${WORK}/${name}-key.pem -out ${WORK}/${name}.csr)
    file(WRITE ${WORK}/${name}.ext "extendedKeyUsage=${usage}\n")
    run(openssl x509 -req -in ${WORK}/${name}.csr -CA ${WORK}/${issuer}.pem -CAkey ${WORK}/${issuer}-key.pem -days 2
        -extfile ${WORK}/${name}.ext -out ${WORK}/${name}.pem)
    file(COPY_FILE ${WORK}/${issuer}.pem ${WORK}/${name}-issuers.pem)
endforeach()

file(MAKE_DIRECTORY ${first}/dist)
file(WRITE ${first}/dist/earlier "an earlier release")
function(expect_refusal name saying)
    set(status 2)
    if(name MATCHES "unreachable")
        set(status 1)  # a signing that fails, not a refusal
    endif()
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE refused OUTPUT_QUIET ERROR_VARIABLE reason)
    if(NOT refused EQUAL status OR NOT EXISTS ${first}/dist/earlier OR NOT reason MATCHES "${saying}")
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
run(openssl pkcs12 -export -in ${WORK}/genuine.pem -inkey ${WORK}/genuine-key.pem -passout pass:right
    -out ${WORK}/genuine.p12)
file(WRITE ${WORK}/wrong-password "wrong\n")
foreach(case "a PKCS #12 file with the wrong password;--pkcs12;${WORK}/genuine.p12;--password-file;${WORK}/wrong-password"
             "a PKCS #12 file without its password;--pkcs12;${WORK}/genuine.p12" "a file that is no PKCS #12;--pkcs12;${first}/LICENSE"
             "a timestamp that is no URL;--pkcs12;${WORK}/genuine.p12;--timestamp;-h"
             "an unreachable timestamp server;--certificate;${WORK}/genuine.pem;--key;${WORK}/genuine-key.pem;--timestamp;http://127.0.0.1:9/")
    list(POP_FRONT case name)
    expect_refusal("${name}" "pkcs12|timestamp|osslsigncode" ${release} ${case})
endforeach()
