# scripts/release, scripts/publish and scripts/verify-release as a maintainer, the CI
# workflow and a user run them, on two copies of the sources in two folders, the first a
# git checkout. Fails unless a tree that is not clean, or bad arguments, are refused
# before anything is removed; both copies write the same zip, holding exactly the
# programs, README.md with every picture it shows, and LICENSE; SHA256SUMS verifies; the
# zip's halvorn.exe is the program under test; publish passes the tested files on as they
# are, or signed with a throwaway certificate, where both programs verify against it and
# still pass the file check, but refuses to sign programs that are not the tested ones;
# the winget and Scoop manifests it publishes describe the published files, and a
# tampered release folder or an http URL is refused;
# and verify-release names the genuine certificate for the genuine files only, finds
# every tampered copy different, and reports an unknown commit without a traceback.
#   cmake -DSOURCE=... -DVERSION=... -DPROGRAM=... -DWORK=... "-DCHECK=..." "-DCHECK_ARGUMENTS=..." -P Release.cmake
# where CHECK PROGRAM x86|x64 CHECK_ARGUMENTS... is the file check.
function(run)
    execute_process(COMMAND ${ARGN} COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
endfunction()

file(REMOVE_RECURSE ${WORK})
foreach(copy first second/elsewhere)
    file(COPY ${SOURCE}/ DESTINATION ${WORK}/${copy}
         PATTERN .git EXCLUDE PATTERN build EXCLUDE PATTERN dist EXCLUDE)
endforeach()
set(first ${WORK}/first)
run(git -C ${first} init --quiet)
run(git -C ${first} add --all)
run(git -C ${first} -c user.name=Halvorn -c user.email=halvorn@invalid commit --quiet -m release)

# Refused, before anything is removed: a changed tree, also when git will not read it
# (another user's checkout), an untracked file that the user's configuration hides, and
# a certificate without its key.
file(MAKE_DIRECTORY ${first}/dist)
file(WRITE ${first}/dist/earlier "an earlier release")
function(expect_refusal name saying)
    execute_process(COMMAND ${ARGN} ${first}/scripts/release RESULT_VARIABLE refused OUTPUT_QUIET ERROR_VARIABLE reason)
    if(NOT refused OR NOT EXISTS ${first}/dist/earlier OR NOT reason MATCHES "${saying}")
        message(FATAL_ERROR "with ${name}, a release was made, the earlier one removed, or this said:\n${reason}")
    endif()
    message(STATUS "refused, with ${name}: ${reason}")
endfunction()
file(APPEND ${first}/README.md "One uncommitted line.\n")
expect_refusal("an uncommitted change" "README.md" env)
expect_refusal("an uncommitted change, in a checkout git will not read" "safe.directory" env GIT_TEST_ASSUME_DIFFERENT_OWNER=1)
run(git -C ${first} checkout README.md)
run(git -C ${first} config status.showUntrackedFiles no)
file(WRITE ${first}/untracked.txt "")
expect_refusal("an untracked file that git status is set to hide" "untracked.txt" env)
file(REMOVE ${first}/untracked.txt)
execute_process(COMMAND ${first}/scripts/release --certificate ${first}/LICENSE
                RESULT_VARIABLE refused OUTPUT_QUIET ERROR_VARIABLE reason)
if(NOT refused EQUAL 2 OR NOT reason MATCHES "--key" OR NOT EXISTS ${first}/dist/earlier)
    message(FATAL_ERROR "--certificate without --key: exited with ${refused}, said ${reason}")
endif()

run(${first}/scripts/release)
run(${WORK}/second/elsewhere/scripts/release)
set(zip halvorn-${VERSION}-windows.zip)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${first}/dist/${zip} ${WORK}/second/elsewhere/dist/${zip}
                RESULT_VARIABLE differ)
if(differ)
    message(FATAL_ERROR "releases from two folders differ")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${first}/dist/${zip} OUTPUT_VARIABLE entries COMMAND_ERROR_IS_FATAL ANY)
set(expected "halvorn.exe\nx64/halvorn.exe\nREADME.md\ndocs/screenshot.png\ndocs/unicode.png\nLICENSE\n")
if(NOT entries STREQUAL expected)
    message(FATAL_ERROR "the zip holds:\n${entries}instead of:\n${expected}")
endif()
file(STRINGS ${SOURCE}/README.md pictures REGEX "!\\[[^]]*\\]\\([^)]+\\)")
foreach(picture IN LISTS pictures)
    string(REGEX REPLACE ".*!\\[[^]]*\\]\\(([^)]+)\\).*" "\\1" path "${picture}")
    if(NOT entries MATCHES "(^|\n)${path}\n")
        message(FATAL_ERROR "README.md shows ${path}, which the zip does not hold")
    endif()
endforeach()
run(sha256sum -c SHA256SUMS WORKING_DIRECTORY ${first}/dist)

file(MAKE_DIRECTORY ${WORK}/unzipped)
run(${CMAKE_COMMAND} -E tar xf ${first}/dist/${zip} WORKING_DIRECTORY ${WORK}/unzipped)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${PROGRAM} ${WORK}/unzipped/halvorn.exe RESULT_VARIABLE differ)
if(differ)
    message(FATAL_ERROR "the released halvorn.exe is not the one under test, ${PROGRAM}")
endif()

# The publish job's work, with the tested release laid out outside the tree as the job
# gets it: unsigned, the tested files as they are; signed with a throwaway certificate,
# the same programs signed, as a user downloads them.
set(tested ${WORK}/artifact/release)
file(COPY ${first}/dist/ DESTINATION ${tested})
# A repository whose name holds the version, which only the tag's place may turn into $version.
set(url_base https://github.com/example/halvorn-${VERSION}/releases/download/v${VERSION}/)
run(${first}/scripts/publish ${tested} ${WORK}/unsigned ${url_base} Example.Halvorn)
foreach(file ${zip} halvorn.exe halvorn-x64.exe SHA256SUMS BUILDINFO)
    run(${CMAKE_COMMAND} -E compare_files ${tested}/${file} ${WORK}/unsigned/${file})
endforeach()
# Refused before anything is removed or written: OUT that is TESTED, one signing secret
# without the other, and an identifier that winget refuses.
foreach(refusal "${tested};Example.Halvorn;CODE_SIGNING_KEY=" "${WORK}/unsigned;Example.Halvorn;CODE_SIGNING_KEY=key"
                "${WORK}/unsigned;Halvorn;CODE_SIGNING_KEY=")
    list(GET refusal 0 out)
    list(GET refusal 1 identifier)
    list(GET refusal 2 secret)
    execute_process(COMMAND env ${secret} ${first}/scripts/publish ${tested} ${out} ${url_base} ${identifier}
                    RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE said)
    execute_process(COMMAND sha256sum --check --quiet SHA256SUMS WORKING_DIRECTORY ${tested} RESULT_VARIABLE damaged)
    if(NOT status EQUAL 2 OR damaged OR NOT EXISTS ${WORK}/unsigned/halvorn.json)
        message(FATAL_ERROR "publish to ${out} as ${identifier} ${secret}: exited with ${status}, said ${said}")
    endif()
endforeach()
# Two signers of one name, a timestamp authority under a root of our own (given to
# verify-release with --ca-file), and a self-signed one.
foreach(signer genuine other tsa-root evil-tsa)
    set(subject "/CN=Halvorn Test Signer")
    set(usage codeSigning)
    if(signer MATCHES "tsa")
        set(subject "/CN=${signer}")
        set(usage critical,timeStamping)
    endif()
    run(openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj ${subject}
        -addext extendedKeyUsage=${usage} -keyout ${WORK}/${signer}-key.pem -out ${WORK}/${signer}.pem)
    execute_process(COMMAND openssl x509 -in ${WORK}/${signer}.pem -noout -fingerprint -sha256
                    OUTPUT_VARIABLE fingerprint COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX REPLACE ".*=([0-9A-F:]+).*" "\\1" ${signer}_fingerprint "${fingerprint}")
endforeach()
run(openssl req -newkey rsa:2048 -nodes -subj /CN=tsa -keyout ${WORK}/tsa-key.pem -out ${WORK}/tsa.csr)
file(WRITE ${WORK}/tsa.ext "extendedKeyUsage=critical,timeStamping\n")
run(openssl x509 -req -in ${WORK}/tsa.csr -CA ${WORK}/tsa-root.pem -CAkey ${WORK}/tsa-root-key.pem -days 2
    -extfile ${WORK}/tsa.ext -out ${WORK}/tsa.pem)
file(READ ${WORK}/tsa.pem tsa)
file(READ ${WORK}/tsa-root.pem tsa_root)
file(WRITE ${WORK}/tsa-chain.pem "${tsa}${tsa_root}")

# A key of another certificate is refused before the earlier release is touched.
execute_process(COMMAND ${first}/scripts/release --certificate ${WORK}/genuine.pem --key ${WORK}/other-key.pem
                RESULT_VARIABLE refused OUTPUT_QUIET ERROR_VARIABLE reason)
if(NOT refused EQUAL 2 OR NOT reason MATCHES "does not belong" OR NOT EXISTS ${first}/dist/SHA256SUMS)
    message(FATAL_ERROR "a key of another certificate: exited with ${refused}, said ${reason}")
endif()

file(READ ${WORK}/genuine.pem certificate)
file(READ ${WORK}/genuine-key.pem key)
set(signing_secrets env "CODE_SIGNING_CERTIFICATE=${certificate}" "CODE_SIGNING_KEY=${key}")
set(downloads ${WORK}/downloads)
run(${signing_secrets} ${first}/scripts/publish ${tested} ${downloads} ${url_base} Example.Halvorn)
foreach(program halvorn.exe halvorn-x64.exe)
    run(osslsigncode verify -CAfile ${WORK}/genuine.pem -in ${downloads}/${program})
endforeach()
run(${CHECK} ${downloads}/halvorn.exe x86 ${CHECK_ARGUMENTS})
run(${CHECK} ${downloads}/halvorn-x64.exe x64 ${CHECK_ARGUMENTS})

# The winget and Scoop manifests published beside the signed files describe those files;
# a release folder whose programs are not those of its SHA256SUMS, or a URL that is not
# https, is refused.
execute_process(COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/check_manifests.py ${downloads} ${downloads}
                        ${url_base} Example.Halvorn RESULT_VARIABLE status ERROR_VARIABLE said)
if(status)
    message(FATAL_ERROR "the published manifests are not as winget and Scoop require:\n${said}")
endif()
file(COPY ${downloads}/ DESTINATION ${WORK}/tampered)
file(COPY_FILE ${WORK}/unsigned/halvorn.exe ${WORK}/tampered/halvorn.exe)
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
        message(FATAL_ERROR "manifests for ${dist} under ${base}: exited with ${status}, said ${said}")
    endif()
endforeach()

# Signed programs that are not the tested ones are not published.
run(/usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/tamper.py code ${tested}/halvorn.exe ${WORK}/changed.exe)
file(COPY_FILE ${WORK}/changed.exe ${tested}/halvorn.exe)
execute_process(COMMAND sha256sum ${zip} halvorn.exe halvorn-x64.exe OUTPUT_FILE ${tested}/SHA256SUMS
                WORKING_DIRECTORY ${tested} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${signing_secrets} ${first}/scripts/publish ${tested} ${WORK}/refused ${url_base} Example.Halvorn
                RESULT_VARIABLE refused
                OUTPUT_QUIET ERROR_QUIET)
if(NOT refused OR EXISTS ${WORK}/refused)
    message(FATAL_ERROR "a signed program that is not the tested one was published")
endif()

# What verify-release says of each download and of copies tampered with as an attacker
# would, or given room for data that nobody signed; only the genuine files name the
# genuine certificate, and a timestamp counts only from an authority that chains to a
# trusted root.
set(mine "${downloads}/halvorn.exe")
set(sign osslsigncode sign -certs ${WORK}/other.pem -key ${WORK}/other-key.pem -h sha256)
run(${sign} -in ${WORK}/unsigned/halvorn.exe -out ${downloads}/forged.exe)
run(${sign} -nest -in ${mine} -out ${downloads}/nested.exe)
run(osslsigncode sign -certs ${WORK}/genuine.pem -key ${WORK}/genuine-key.pem -h sha256 -ac ${WORK}/other.pem
    -in ${WORK}/unsigned/halvorn.exe -out ${downloads}/extra-certificate.exe)
run(osslsigncode add -addUnauthenticatedBlob -in ${mine} -out ${downloads}/blob.exe)
run(osslsigncode add -TSA-certs ${WORK}/evil-tsa.pem -TSA-key ${WORK}/evil-tsa-key.pem -in ${mine}
    -out ${downloads}/evil-timestamp.exe)
run(osslsigncode add -TSA-certs ${WORK}/tsa-chain.pem -TSA-key ${WORK}/tsa-key.pem -in ${mine}
    -out ${downloads}/timestamped.exe)
foreach(kind signature stuffed checksum code)
    run(/usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/tamper.py ${kind} ${mine} ${downloads}/${kind}.exe)
endforeach()
run(/usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/tamper.py zip:${downloads}/stuffed.exe ${downloads}/${zip}
    ${downloads}/stuffed.zip)
run(/usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/tamper.py code ${downloads}/${zip} ${downloads}/bad-crc.zip)
execute_process(COMMAND git -C ${first} rev-parse HEAD OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE)
set(of "of Halvorn ${VERSION} at commit ${commit}")
set(untrusted "subject \"Common Name: Halvorn Test Signer\", which does not chain to a root this machine trusts")
set(genuine "signed with certificate SHA-256 ${genuine_fingerprint}, ${untrusted}")
set(differs "differs from the release ${of}")
set(not_attached "it is not one of the rebuilt programs with one signature attached as signing attaches it")
set(verdicts
    "halvorn.exe: identical apart from its signature: halvorn.exe ${of}, ${genuine}"
    "halvorn-x64.exe: identical apart from its signature: halvorn-x64.exe ${of}, ${genuine}"
    "${zip}: identical apart from its signature: ${zip} ${of}, ${genuine}"
    "forged.exe: identical apart from its signature: halvorn.exe ${of}, signed with certificate SHA-256 ${other_fingerprint}, ${untrusted}"
    "timestamped.exe: identical apart from its signature: halvorn.exe ${of}, ${genuine}, timestamped [-0-9]+ [:0-9]+ UTC by \"Common Name: tsa\""
    "nested.exe: ${differs}: it carries a second, nested signature"
    "extra-certificate.exe: ${differs}: its signature carries a certificate outside the signer's chain"
    "blob.exe: ${differs}: its signature carries unsigned data besides at most one timestamp"
    "evil-timestamp.exe: ${differs}: its timestamp does not verify, or its TSA does not chain to a trusted root"
    "signature.exe: ${differs}: its signature does not verify \\(osslsigncode verify\\)"
    "stuffed.exe: ${differs}: ${not_attached}"
    "checksum.exe: ${differs}: ${not_attached}"
    "code.exe: ${differs}: ${not_attached}"
    "stuffed.zip: ${differs}: its halvorn.exe differs: ${not_attached}"
    "bad-crc.zip: ${differs}: it cannot be read as a zip \\([^\n]*\\)")
set(files "")
foreach(verdict IN LISTS verdicts)
    string(REGEX REPLACE ":.*" "" file "${verdict}")
    list(APPEND files ${downloads}/${file})
endforeach()
string(REPLACE ";" "\n" expected "^${verdicts}\n$")
execute_process(COMMAND ${first}/scripts/verify-release --ca-file ${WORK}/tsa-root.pem ${files} ${downloads}/BUILDINFO
                RESULT_VARIABLE status OUTPUT_VARIABLE said)
if(NOT said MATCHES "${expected}" OR NOT status EQUAL 1)
    message(FATAL_ERROR "verify-release exited with ${status} and said:\n${said}instead of:\n${expected}")
endif()

# What it cannot check is one line and exit status 2, never a traceback: a commit this
# clone lacks, a BUILDINFO that is not UTF-8, and a BUILDINFO with no file to check.
string(ASCII 255 not_utf8)
file(WRITE ${WORK}/unknown/BUILDINFO "Source: halvorn\nVersion: ${VERSION}\nCommit: 0123456789abcdef0123456789abcdef01234567\n")
file(WRITE ${WORK}/not-utf-8/BUILDINFO "Source: halvorn ${not_utf8}\n")
foreach(case "${mine};${WORK}/unknown/BUILDINFO;no commit" "${mine};${WORK}/not-utf-8/BUILDINFO;not UTF-8"
             "${downloads}/BUILDINFO;no file to check")
    list(POP_BACK case saying)
    execute_process(COMMAND ${first}/scripts/verify-release ${case} RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE said)
    if(NOT status EQUAL 2 OR said MATCHES "Traceback" OR NOT said MATCHES "${saying}")
        message(FATAL_ERROR "verify-release ${case} exited with ${status} and said:\n${said}")
    endif()
endforeach()
message(STATUS "two folders, one verifiable release holding the program under test, published signed and checked")
