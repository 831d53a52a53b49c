# scripts/release and scripts/verify-release as a maintainer and a user run them, on two
# copies of the sources in two folders, the first a git checkout. Fails unless a tree with
# an uncommitted change is refused; both copies write the same zip, holding exactly the
# programs, README.md with every picture it shows, and LICENSE; SHA256SUMS verifies; the
# zip's halvorn.exe is the program under test; and, signed with a throwaway certificate,
# both programs verify against it and still pass the file check, and verify-release finds
# each signed file identical apart from its signature and a changed copy different.
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

file(APPEND ${first}/README.md "One uncommitted line.\n")
execute_process(COMMAND ${first}/scripts/release RESULT_VARIABLE refused OUTPUT_QUIET ERROR_VARIABLE reason)
if(NOT refused OR EXISTS ${first}/dist)
    message(FATAL_ERROR "a release was made from a tree with an uncommitted change")
endif()
message(STATUS "refused: ${reason}")
run(git -C ${first} checkout README.md)

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

# Signed, then downloaded: the release as a user gets it, and one program changed by a byte.
run(openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Halvorn Test Signer"
    -addext extendedKeyUsage=codeSigning -keyout ${WORK}/key.pem -out ${WORK}/certificate.pem)
run(${first}/scripts/release --certificate ${WORK}/certificate.pem --key ${WORK}/key.pem)
file(COPY ${first}/dist/ DESTINATION ${WORK}/downloads)
set(downloads ${WORK}/downloads)
foreach(program halvorn.exe halvorn-x64.exe)
    run(osslsigncode verify -CAfile ${WORK}/certificate.pem -in ${downloads}/${program})
endforeach()
run(${CHECK} ${downloads}/halvorn.exe x86 ${CHECK_ARGUMENTS})
run(${CHECK} ${downloads}/halvorn-x64.exe x64 ${CHECK_ARGUMENTS})
run(/usr/bin/python3 -c "import sys\nd = bytearray(open(sys.argv[1], 'rb').read())\nd[1000] ^= 1\nopen(sys.argv[2], 'wb').write(d)"
    ${downloads}/halvorn.exe ${downloads}/changed.exe)

execute_process(COMMAND ${first}/scripts/verify-release ${downloads}/halvorn.exe ${downloads}/halvorn-x64.exe
                        ${downloads}/${zip} ${downloads}/changed.exe ${downloads}/BUILDINFO
                RESULT_VARIABLE status OUTPUT_VARIABLE verdicts)
set(signature "identical apart from its signature, signed by Halvorn Test Signer")
set(expected "halvorn.exe: ${signature}\nhalvorn-x64.exe: ${signature}\n${zip}: ${signature}\nchanged.exe: differs\n")
if(NOT verdicts STREQUAL expected OR status EQUAL 0)
    message(FATAL_ERROR "verify-release exited with ${status} and said:\n${verdicts}instead of:\n${expected}")
endif()
message(STATUS "two folders, one verifiable release holding the program under test, signed and verified")
