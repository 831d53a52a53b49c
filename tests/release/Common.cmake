# What the release tests share: one work folder, in which Refusals.cmake makes two copies
# of the sources (the first a git checkout) and throwaway certificates, Reproducible.cmake
# the releases, and Publish.cmake what the publish job publishes, unsigned and signed.
#   cmake -DSOURCE=... -DVERSION=... -DPROGRAM=... -DWORK=... "-DCHECK=..." "-DCHECK_ARGUMENTS=..." -P PART.cmake
# where CHECK PROGRAM x86|x64 CHECK_ARGUMENTS... is the file check.
cmake_minimum_required(VERSION 3.25)

function(run)
    execute_process(COMMAND ${ARGN} COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
endfunction()

set(first ${WORK}/first)
set(zip halvorn-${VERSION}-windows.zip)
# The tested release as the publish job gets it, outside the tree.
set(tested ${WORK}/artifact/release)
# A repository whose name holds the version, which only the tag's place may turn into $version.
set(url_base https://github.com/example/halvorn-${VERSION}/releases/download/v${VERSION}/)
# What the publish job publishes, signed with the genuine certificate; and unsigned.
set(downloads ${WORK}/downloads)
set(unsigned ${WORK}/unsigned)
set(python /usr/bin/python3)
