# What verify-release says of each download and of copies tampered with as an attacker
# would, or given room for data that nobody signed: only the genuine files name the
# genuine certificate, and a timestamp counts only from an authority that chains to a
# trusted root. What it cannot check is one line and exit status 2, never a traceback.
include(${CMAKE_CURRENT_LIST_DIR}/Common.cmake)

foreach(signer genuine other)
    execute_process(COMMAND openssl x509 -in ${WORK}/${signer}.pem -noout -fingerprint -sha256
                    OUTPUT_VARIABLE fingerprint COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX REPLACE ".*=([0-9A-F:]+).*" "\\1" ${signer}_fingerprint "${fingerprint}")
endforeach()
# The published files, and the copies made of them, in a folder of this test's own.
set(files ${WORK}/verdicts)
file(REMOVE_RECURSE ${files})
file(COPY ${downloads}/ DESTINATION ${files})
set(mine "${files}/halvorn.exe")
set(sign osslsigncode sign -certs ${WORK}/other.pem -key ${WORK}/other-key.pem -h sha256)
run(${sign} -in ${unsigned}/halvorn.exe -out ${files}/forged.exe)
run(${sign} -nest -in ${mine} -out ${files}/nested.exe)
run(osslsigncode sign -certs ${WORK}/genuine.pem -key ${WORK}/genuine-key.pem -h sha256 -ac ${WORK}/other.pem
    -in ${unsigned}/halvorn.exe -out ${files}/extra-certificate.exe)
run(osslsigncode add -addUnauthenticatedBlob -in ${mine} -out ${files}/blob.exe)
foreach(kind signature stuffed checksum code)
    run(${python} ${CMAKE_CURRENT_LIST_DIR}/tamper.py ${kind} ${mine} ${files}/${kind}.exe)
endforeach()
run(${python} ${CMAKE_CURRENT_LIST_DIR}/tamper.py zip:${files}/stuffed.exe ${files}/${zip}
    ${files}/stuffed.zip)
run(${python} ${CMAKE_CURRENT_LIST_DIR}/tamper.py code ${files}/${zip} ${files}/bad-crc.zip)
execute_process(COMMAND git -C ${first} rev-parse HEAD OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE)
set(of "of Halvorn ${VERSION} at commit ${commit}")
set(untrusted "subject \"Common Name: Halvorn Test Signer\", which does not chain to a root this machine trusts")
set(genuine "signed with certificate SHA-256 ${genuine_fingerprint}, ${untrusted}")
set(differs "differs from the release ${of}")
set(not_attached "it is not one of the rebuilt programs with one signature attached as signing attaches it")
# osslsigncode timestamps as its own authority, without a network, only in versions after
# Debian 12's 2.5.
execute_process(COMMAND osslsigncode --help OUTPUT_VARIABLE help ERROR_VARIABLE help)
set(timestamps "")
if(help MATCHES "-TSA-certs")
    run(osslsigncode add -TSA-certs ${WORK}/evil-tsa.pem -TSA-key ${WORK}/evil-tsa-key.pem -in ${mine}
        -out ${files}/evil-timestamp.exe)
    run(osslsigncode add -TSA-certs ${WORK}/tsa-chain.pem -TSA-key ${WORK}/tsa-key.pem -in ${mine}
        -out ${files}/timestamped.exe)
    set(timestamps
        "timestamped.exe: identical apart from its signature: halvorn.exe ${of}, ${genuine}, timestamped [-0-9]+ [:0-9]+ UTC by \"Common Name: tsa\""
        "evil-timestamp.exe: ${differs}: its timestamp does not verify, or its TSA does not chain to a trusted root")
else()
    message(STATUS "this osslsigncode cannot timestamp without a network: the timestamp cases are left out")
endif()
set(verdicts
    "halvorn.exe: identical apart from its signature: halvorn.exe ${of}, ${genuine}"
    "halvorn-x64.exe: identical apart from its signature: halvorn-x64.exe ${of}, ${genuine}"
    "${zip}: identical apart from its signature: ${zip} ${of}, ${genuine}"
    "forged.exe: identical apart from its signature: halvorn.exe ${of}, signed with certificate SHA-256 ${other_fingerprint}, ${untrusted}"
    ${timestamps}
    "nested.exe: ${differs}: it carries a second, nested signature"
    "extra-certificate.exe: ${differs}: its signature carries a certificate outside the signer's chain"
    "blob.exe: ${differs}: its signature carries unsigned data besides at most one timestamp"
    "signature.exe: ${differs}: its signature does not verify \\(osslsigncode verify\\)"
    "stuffed.exe: ${differs}: ${not_attached}"
    "checksum.exe: ${differs}: ${not_attached}"
    "code.exe: ${differs}: ${not_attached}"
    "stuffed.zip: ${differs}: its halvorn.exe differs: ${not_attached}"
    "bad-crc.zip: ${differs}: it cannot be read as a zip \\([^\n]*\\)")
set(checked "")
foreach(verdict IN LISTS verdicts)
    string(REGEX REPLACE ":.*" "" file "${verdict}")
    list(APPEND checked ${files}/${file})
endforeach()
string(REPLACE ";" "\n" expected "^${verdicts}\n$")
execute_process(COMMAND ${first}/scripts/verify-release --ca-file ${WORK}/tsa-root.pem ${checked} ${files}/BUILDINFO
                RESULT_VARIABLE status OUTPUT_VARIABLE said)
if(NOT said MATCHES "${expected}" OR NOT status EQUAL 1)
    message(FATAL_ERROR "verify-release exited with ${status} and said:\n${said}instead of:\n${expected}")
endif()

# What it cannot check: a commit this clone lacks, a BUILDINFO that is not UTF-8, a
# BUILDINFO with no file to check, and one saved under another name, as if a download.
string(ASCII 255 not_utf8)
file(COPY_FILE ${files}/BUILDINFO ${WORK}/BUILDINFO.txt)
file(WRITE ${WORK}/unknown/BUILDINFO "Source: halvorn\nVersion: ${VERSION}\nCommit: 0123456789abcdef0123456789abcdef01234567\n")
file(WRITE ${WORK}/not-utf-8/BUILDINFO "Source: halvorn ${not_utf8}\n")
foreach(case "${mine};${WORK}/unknown/BUILDINFO;no commit" "${mine};${WORK}/not-utf-8/BUILDINFO;not UTF-8"
             "${files}/BUILDINFO;no file to check" "${mine};${WORK}/BUILDINFO.txt;give it with --buildinfo")
    list(POP_BACK case saying)
    execute_process(COMMAND ${first}/scripts/verify-release ${case} RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE said)
    if(NOT status EQUAL 2 OR said MATCHES "Traceback" OR NOT said MATCHES "${saying}")
        message(FATAL_ERROR "verify-release ${case} exited with ${status} and said:\n${said}")
    endif()
endforeach()
