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
set(url_base https://github.com/example/halvorn/releases/download/v${VERSION}/)
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
foreach(signer genuine other)
    run(openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Halvorn Test Signer"
        -addext extendedKeyUsage=codeSigning -keyout ${WORK}/${signer}-key.pem -out ${WORK}/${signer}.pem)
    execute_process(COMMAND openssl x509 -in ${WORK}/${signer}.pem -noout -fingerprint -sha256
                    OUTPUT_VARIABLE fingerprint COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX REPLACE ".*=([0-9A-F:]+).*" "\\1" ${signer}_fingerprint "${fingerprint}")
endforeach()
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
foreach(refusal "${WORK}/tampered;${url_base}" "${downloads};http://example.invalid/halvorn/")
    list(GET refusal 0 dist)
    list(GET refusal 1 base)
    execute_process(COMMAND ${first}/scripts/package-manifests --dist ${dist} --url-base ${base}
                            --identifier Example.Halvorn --out ${WORK}/refused-manifests
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
# would; only the genuine files name the genuine certificate.
set(mine "${downloads}/halvorn.exe")
set(sign osslsigncode sign -certs ${WORK}/other.pem -key ${WORK}/other-key.pem -h sha256)
run(${sign} -in ${WORK}/unsigned/halvorn.exe -out ${downloads}/forged.exe)
run(${sign} -nest -in ${mine} -out ${downloads}/nested.exe)
foreach(kind signature stuffed checksum code)
    run(/usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/tamper.py ${kind} ${mine} ${downloads}/${kind}.exe)
endforeach()
run(/usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/tamper.py zip:${downloads}/stuffed.exe ${downloads}/${zip}
    ${downloads}/stuffed.zip)
set(verdicts
    "halvorn.exe: identical apart from its signature, signed by CN=Halvorn Test Signer, certificate SHA-256 ${genuine_fingerprint} (does not chain to a root this machine trusts)"
    "halvorn-x64.exe: identical apart from its signature, signed by CN=Halvorn Test Signer, certificate SHA-256 ${genuine_fingerprint} (does not chain to a root this machine trusts)"
    "${zip}: identical apart from its signature, signed by CN=Halvorn Test Signer, certificate SHA-256 ${genuine_fingerprint} (does not chain to a root this machine trusts)"
    "forged.exe: identical apart from its signature, signed by CN=Halvorn Test Signer, certificate SHA-256 ${other_fingerprint} (does not chain to a root this machine trusts)"
    "nested.exe: differs: it carries a second, nested signature"
    "signature.exe: differs: its signature does not verify (osslsigncode verify)"
    "stuffed.exe: differs: it is not one of the rebuilt programs with its one signature attached"
    "checksum.exe: differs: it is not one of the rebuilt programs with its one signature attached"
    "code.exe: differs: it is not one of the rebuilt programs with its one signature attached"
    "stuffed.zip: differs: its halvorn.exe differs: it is not one of the rebuilt programs with its one signature attached")
set(files "")
foreach(verdict IN LISTS verdicts)
    string(REGEX REPLACE ":.*" "" file "${verdict}")
    list(APPEND files ${downloads}/${file})
endforeach()
string(REPLACE ";" "\n" expected "${verdicts}\n")
execute_process(COMMAND ${first}/scripts/verify-release ${files} ${downloads}/BUILDINFO
                RESULT_VARIABLE status OUTPUT_VARIABLE said)
if(NOT said STREQUAL expected OR NOT status EQUAL 1)
    message(FATAL_ERROR "verify-release exited with ${status} and said:\n${said}instead of:\n${expected}")
endif()

# A commit this clone lacks: a message, no traceback.
file(WRITE ${WORK}/BUILDINFO "Commit: 0123456789abcdef0123456789abcdef01234567\n")
execute_process(COMMAND ${first}/scripts/verify-release ${mine} ${WORK}/BUILDINFO
                RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE said)
if(NOT status EQUAL 2 OR said MATCHES "Traceback" OR NOT said MATCHES "no commit")
    message(FATAL_ERROR "verify-release with an unknown commit exited with ${status} and said:\n${said}")
endif()
message(STATUS "two folders, one verifiable release holding the program under test, published signed and checked")
