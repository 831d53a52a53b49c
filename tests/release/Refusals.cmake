# scripts/release refuses, with exit status 2 and the earlier dist/ left as it was: a
# changed tree, also when git will not read it (another user's checkout), an untracked
# file that the user's configuration hides, a certificate without its key, a key of
# another certificate, a PKCS #12 file with the wrong password or none that is one, and
# a timestamp that is no URL; and it keeps the earlier dist/ when the timestamp server
# cannot be reached. Leaves two checkouts of one commit of the sources, in two folders,
# and throwaway certificates.
include(${CMAKE_CURRENT_LIST_DIR}/Common.cmake)

file(REMOVE_RECURSE ${WORK})
file(COPY ${SOURCE}/ DESTINATION ${first} PATTERN .git EXCLUDE PATTERN build EXCLUDE PATTERN dist EXCLUDE)
run(git -C ${first} init --quiet)
run(git -C ${first} add --all)
run(git -C ${first} -c user.name=Halvorn -c user.email=halvorn@invalid commit --quiet -m release)
run(git -C ${first} tag v${VERSION})
run(git clone --quiet ${first} ${WORK}/second/elsewhere)

# Throwaway certificates, shaped as CAs issue them: the genuine signer and the timestamp
# authority, each under an intermediate with its CRL distribution point and its issuer's
# address (AIA), below a root of ours that verify-release is given with --ca-file; a
# self-signed signer of the genuine one's name; a signer under a CA that nobody trusts;
# and a self-signed authority named with the words osslsigncode prints of a timestamp
# that verifies. Each: its name, subject, issuer (none: itself) and extensions.
set(ca "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign")
set(end "basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature")
foreach(certificate "root;/O=Halvorn Test/CN=Code Signing Root;;${ca}"
        "intermediate;/O=Halvorn Test/CN=Code Signing CA;root;${ca}\nextendedKeyUsage=codeSigning"
        "genuine;/CN=Halvorn Test Signer;intermediate;${end}\nextendedKeyUsage=codeSigning"
        "tsa-root;/O=Halvorn Test/CN=Time Stamping Root;;${ca}"
        "tsa-intermediate;/O=Halvorn Test/CN=Time Stamping CA;tsa-root;${ca}\nextendedKeyUsage=timeStamping"
        "tsa;/CN=tsa;tsa-intermediate;${end}\nextendedKeyUsage=critical,timeStamping"
        "other;/CN=Halvorn Test Signer;;extendedKeyUsage=codeSigning" "ca;/CN=Halvorn Test CA;;${ca}"
        "ca-signer;/CN=ca-signer;ca;extendedKeyUsage=codeSigning"
        "evil-tsa;/CN=Timestamp Server Signature verification: ok;;extendedKeyUsage=critical,timeStamping")
    list(GET certificate 0 name)
    list(GET certificate 1 subject)
    list(GET certificate 2 issuer)
    list(GET certificate 3 extensions)
    set(signed_by -signkey ${WORK}/${name}-key.pem)
    if(issuer)
        set(signed_by -CA ${WORK}/${issuer}.pem -CAkey ${WORK}/${issuer}-key.pem)
        string(APPEND extensions "\ncrlDistributionPoints=URI:http://crl.example.invalid/${issuer}.crl\n"
               "authorityInfoAccess=caIssuers;URI:http://crt.example.invalid/${issuer}.crt,OCSP;URI:http://ocsp.example.invalid")
        file(COPY_FILE ${WORK}/${issuer}.pem ${WORK}/${name}-issuers.pem)
    endif()
    file(WRITE ${WORK}/${name}.ext "${extensions}\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n")
    run(openssl req -newkey rsa:2048 -nodes -subj ${subject} -keyout ${WORK}/${name}-key.pem -out ${WORK}/${name}.csr)
    run(openssl x509 -req -in ${WORK}/${name}.csr ${signed_by} -days 2 -extfile ${WORK}/${name}.ext -out ${WORK}/${name}.pem)
endforeach()
# The CAs' revocation lists, empty, at the addresses their certificates name.
file(WRITE ${WORK}/ca.cnf "[ca]\ndefault_ca = test\n[test]\ndatabase = ${WORK}/index.txt\n"
     "crlnumber = ${WORK}/crlnumber\ndefault_md = sha256\ndefault_crl_days = 2\n")
foreach(ca root intermediate tsa-root tsa-intermediate)
    file(WRITE ${WORK}/index.txt "")
    file(WRITE ${WORK}/crlnumber "01\n")
    run(openssl ca -gencrl -config ${WORK}/ca.cnf -cert ${WORK}/${ca}.pem -keyfile ${WORK}/${ca}-key.pem -out ${WORK}/${ca}.crl)
endforeach()
# What a signer gives: its certificate and its intermediate; what a user trusts: the roots.
foreach(file "genuine-chain.pem;genuine.pem;intermediate.pem" "roots.pem;root.pem;tsa-root.pem"
        "crls.pem;root.crl;intermediate.crl" "tsa-crls.pem;tsa-root.crl;tsa-intermediate.crl")
    list(POP_FRONT file chain)
    file(WRITE ${WORK}/${chain} "")
    foreach(part IN LISTS file)
        file(READ ${WORK}/${part} pem)
        file(APPEND ${WORK}/${chain} "${pem}")
    endforeach()
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
