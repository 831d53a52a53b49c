# What verify-release says of each download and of copies made as an attacker would, with
# throwaway certificates shaped as CAs issue them and a timestamp authority of the tests'
# own (tsa.py): only what signing makes from a signer's own parts is accepted, whoever the
# signer, with the issuers of the path to a trusted root and no other certificate, and a
# timestamp only as an authority that chains to a trusted root makes it for the request
# osslsigncode sends; one forgery of each kind names the first field that is not what
# signing makes. A zip's line says of each program what holds of it alone. Every file
# gets its verdict, an unreadable zip too, under its name in quotes. What it cannot check
# is one line and exit status 2, never a traceback.
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
file(COPY_FILE ${unsigned}/halvorn.exe ${files}/unsigned.exe)
file(COPY_FILE ${unsigned}/halvorn.exe "${files}/halvorn.exe: identical: halvorn.exe.exe")
run(${python} ${CMAKE_CURRENT_LIST_DIR}/tamper.py code ${unsigned}/halvorn.exe ${files}/changed.exe)
set(sign osslsigncode sign -h sha256 -in ${unsigned}/halvorn.exe)
set(genuine_key -certs ${WORK}/genuine-chain.pem -key ${WORK}/genuine-key.pem)
run(${sign} -certs ${WORK}/other.pem -key ${WORK}/other-key.pem -out ${files}/forged.exe)
file(READ ${WORK}/ca-signer.pem ca_signer)
file(READ ${WORK}/ca.pem ca)
file(WRITE ${WORK}/ca-chain.pem "${ca_signer}${ca}")
run(${sign} -certs ${WORK}/ca-chain.pem -key ${WORK}/ca-signer-key.pem -out ${files}/ca-signed.exe)
run(${sign} ${genuine_key} -ac ${WORK}/other.pem -out ${files}/extra-certificate.exe)
run(${sign} ${genuine_key} -ts $ENV{HALVORN_TEST_TSA}evil-tsa -out ${files}/evil-timestamp.exe)
run(osslsigncode sign ${genuine_key} -h sha256 -n Halvorn -in ${unsigned}/halvorn-x64.exe -out ${files}/untimestamped-x64.exe)
run(osslsigncode sign -certs ${WORK}/other.pem -key ${WORK}/other-key.pem -h sha256 -in ${unsigned}/halvorn-x64.exe
    -out ${files}/other-x64.exe)
run(osslsigncode sign -certs ${WORK}/other.pem -key ${WORK}/other-key.pem -h sha256 -nest -in ${mine} -out ${files}/nested.exe)
run(osslsigncode add -addUnauthenticatedBlob -in ${mine} -out ${files}/blob.exe)
# The published programs are timestamped: a signature value to change is at the end of one that is not.
run(${python} ${CMAKE_CURRENT_LIST_DIR}/tamper.py signature ${files}/forged.exe ${files}/signature.exe)
foreach(kind stuffed checksum code field token grown fake-ca nonce ber-tsa "copies;root" "tsa-copies;tsa-root"
             "md5;genuine-key" "opus-twice;genuine-key")
    list(POP_FRONT kind name)
    list(TRANSFORM kind PREPEND ${WORK}/)
    list(TRANSFORM kind APPEND .pem)
    run(${python} ${CMAKE_CURRENT_LIST_DIR}/tamper.py ${name} ${mine} ${files}/${name}.exe ${kind})
endforeach()
foreach(kind "stuffed;zip:halvorn.exe=${files}/stuffed.exe" "copies;zip:halvorn.exe=${files}/copies.exe"
             "signers;zip:x64/halvorn.exe=${files}/other-x64.exe" "untimestamped;zip:x64/halvorn.exe=${files}/untimestamped-x64.exe"
             extra comment method lzma encrypted deflate disks padded)
    list(POP_FRONT kind name)
    if(NOT kind)
        set(kind ${name})
    endif()
    run(${python} ${CMAKE_CURRENT_LIST_DIR}/tamper.py ${kind} ${files}/${zip} ${files}/${name}.zip)
endforeach()
# A BUILDINFO as an editor may save it: with a byte order mark, its commit in capitals.
file(READ ${files}/BUILDINFO buildinfo)
string(REGEX MATCH "Commit: ([0-9a-f]+)" commit_line "${buildinfo}")
string(TOUPPER "${CMAKE_MATCH_1}" upper)
string(REPLACE "${CMAKE_MATCH_1}" "${upper}" buildinfo "${buildinfo}")
string(ASCII 239 187 191 bom)
file(WRITE ${files}/BUILDINFO "${bom}${buildinfo}")

execute_process(COMMAND git -C ${first} rev-parse HEAD OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE)
set(of "of Halvorn ${VERSION} at commit ${commit}, tagged v${VERSION}")
set(chains "which chains to a root this machine trusts")
set(stamp "timestamped [-0-9]+ [:0-9]+ UTC by \"Common Name: tsa\"")
set(subject "subject \"Common Name: Halvorn Test Signer\"")
set(by_genuine "signed with certificate SHA-256 ${genuine_fingerprint}, ${chains}")
set(genuine "${by_genuine}, ${stamp}, program name \"Halvorn\", ${subject}")
set(signed "identical apart from its signature")
set(differs "differs from the release ${of}")
set(not_attached "it is not one of the rebuilt programs with one signature attached as signing attaches it")
set(not_made "its signature is not what signing makes, from SignedData")
set(token "${not_made}.signer_infos\\[0\\].unsigned_attrs\\[0\\].values\\[0\\].content")
set(no_root "its certificates do not chain to a root this machine trusts[^\n]*--ca-file")
set(unreadable "it cannot be read as a zip \\([^\n]*\\)")
set(verdicts
    "\"halvorn.exe\": ${signed}: halvorn.exe ${of}, ${genuine}"
    "\"halvorn-x64.exe\": ${signed}: halvorn-x64.exe ${of}, ${genuine}"
    "\"${zip}\": ${signed}: ${zip} ${of}, ${by_genuine}, ${stamp} in halvorn.exe, ${stamp} in x64/halvorn.exe, program name \"Halvorn\", ${subject}"
    "\"unsigned.exe\": identical: halvorn.exe ${of}"
    "\"halvorn.exe: identical: halvorn.exe.exe\": identical: halvorn.exe ${of}"
    "\"changed.exe\": ${differs}: it is no rebuilt program, and carries no signature"
    "\"untimestamped.zip\": ${signed}: ${zip} ${of}, ${by_genuine}, ${stamp} in halvorn.exe, not timestamped in x64/halvorn.exe, program name \"Halvorn\", ${subject}"
    "\"forged.exe\": ${signed}: halvorn.exe ${of}, signed with certificate SHA-256 ${other_fingerprint}, which does not chain to a root this machine trusts, not timestamped, no program name, ${subject}"
    "\"ca-signed.exe\": ${differs}: ${no_root}"
    "\"grown.exe\": ${differs}: ${no_root}"
    "\"fake-ca.exe\": ${differs}: ${no_root}"
    "\"copies.exe\": ${differs}: ${not_made}.certificates\\[[0-9]\\] on"
    "\"tsa-copies.exe\": ${differs}: ${token}.certificates\\[[0-9]\\] on"
    "\"nonce.exe\": ${differs}: ${token}.encap_content_info.content.nonce on"
    "\"ber-tsa.exe\": ${differs}: ${token}.signer_infos\\[0\\].signed_attrs\\[[0-9]\\][^ ]* on"
    "\"evil-timestamp.exe\": ${differs}: its timestamp does not verify, or its TSA does not chain to a trusted root"
    "\"token.exe\": ${differs}: ${token}.signer_infos\\[0\\].unsigned_attrs on"
    "\"field.exe\": ${differs}: ${not_made}.digest_algorithms\\[1\\] on"
    "\"md5.exe\": ${differs}: ${not_made}.encap_content_info.content.message_digest.digest_algorithm.algorithm on"
    "\"opus-twice.exe\": ${differs}: ${not_made}.signer_infos\\[0\\].signed_attrs\\[[0-9]\\][^ ]* on"
    "\"nested.exe\": ${differs}: ${not_made}.signer_infos\\[0\\].unsigned_attrs\\[0\\].type on"
    "\"extra-certificate.exe\": ${differs}: ${not_made}.certificates\\[[0-9]\\] on"
    "\"blob.exe\": ${differs}: ${not_made}.signer_infos\\[0\\].unsigned_attrs\\[0\\].type on"
    "\"signature.exe\": ${differs}: its signature value does not verify with the signer's key"
    "\"stuffed.exe\": ${differs}: ${not_attached}"
    "\"checksum.exe\": ${differs}: ${not_attached}"
    "\"code.exe\": ${differs}: ${not_attached}"
    "\"stuffed.zip\": ${differs}: its halvorn.exe differs: ${not_attached}"
    "\"copies.zip\": ${differs}: its halvorn.exe differs: ${not_made}.certificates\\[[0-9]\\] on"
    "\"signers.zip\": ${differs}: its programs are not both signed, with the same certificate"
    "\"extra.zip\": ${differs}: it holds other files"
    "\"comment.zip\": ${differs}: the zip around its programs is not the rebuilt one"
    "\"method.zip\": ${differs}: ${unreadable}"
    "\"lzma.zip\": ${differs}: ${unreadable}"
    "\"encrypted.zip\": ${differs}: ${unreadable}"
    "\"deflate.zip\": ${differs}: ${unreadable}"
    "\"disks.zip\": ${differs}: ${unreadable}"
    "\"padded.zip\": ${differs}: it is larger than the rebuilt zip could be with two signatures"
    "\"halvorn.exe\": ${signed}: halvorn.exe ${of}, ${genuine}")
set(checked "")
foreach(verdict IN LISTS verdicts)
    string(REGEX REPLACE "^\"([^\"]*)\":.*" "\\1" file "${verdict}")
    list(APPEND checked ${files}/${file})
endforeach()
string(REPLACE ";" "\n" expected "^${verdicts}\n$")
execute_process(COMMAND ${first}/scripts/verify-release --ca-file ${WORK}/roots.pem ${checked} ${files}/BUILDINFO
                RESULT_VARIABLE status OUTPUT_VARIABLE said)
if(NOT said MATCHES "${expected}" OR NOT status EQUAL 1)
    message(FATAL_ERROR "verify-release exited with ${status} and said:\n${said}instead of:\n${expected}")
endif()

# What it cannot check: a commit this clone lacks, a commit whose release does not build
# (the build's own error shows), a BUILDINFO that is not UTF-8, a BUILDINFO with no file
# to check, one saved under another name, as if a download, and a --ca-file without
# certificates.
file(REMOVE_RECURSE ${WORK}/broken)
run(git -C ${first} worktree add --quiet -b broken ${WORK}/broken)
file(APPEND ${WORK}/broken/CMakeLists.txt "message(FATAL_ERROR \"broken on purpose\")\n")
run(git -C ${WORK}/broken -c user.name=Halvorn -c user.email=halvorn@invalid commit --quiet -am broken)
execute_process(COMMAND git -C ${WORK}/broken rev-parse HEAD OUTPUT_VARIABLE broken OUTPUT_STRIP_TRAILING_WHITESPACE)
run(git -C ${first} worktree remove --force ${WORK}/broken)
file(WRITE ${WORK}/broken-build/BUILDINFO "Source: halvorn\nVersion: ${VERSION}\nCommit: ${broken}\n")
string(ASCII 255 not_utf8)
file(COPY_FILE ${files}/BUILDINFO ${WORK}/BUILDINFO.txt)
file(WRITE ${WORK}/unknown/BUILDINFO "Source: halvorn\nVersion: ${VERSION}\nCommit: 0123456789abcdef0123456789abcdef01234567\n")
file(WRITE ${WORK}/not-utf-8/BUILDINFO "Source: halvorn ${not_utf8}\n")
foreach(case "${mine};${WORK}/unknown/BUILDINFO;no commit" "${mine};${WORK}/broken-build/BUILDINFO;broken on purpose"
             "${mine};${WORK}/not-utf-8/BUILDINFO;not UTF-8" "${files}/BUILDINFO;no file to check"
             "${mine};${WORK}/BUILDINFO.txt;give it with --buildinfo" "${mine};--ca-file;${first}/LICENSE;no PEM certificates")
    list(POP_BACK case saying)
    execute_process(COMMAND ${first}/scripts/verify-release ${case} RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE said)
    if(NOT status EQUAL 2 OR said MATCHES "Traceback" OR NOT said MATCHES "${saying}")
        message(FATAL_ERROR "verify-release ${case} exited with ${status} and said:\n${said}")
    endif()
endforeach()
