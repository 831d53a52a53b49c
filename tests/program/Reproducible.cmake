# Builds halvorn.exe a second time, from a copy of the sources in another folder,
# and fails unless the file is byte for byte the one under test.
# The second tree is configured as the one under test: same generator, make
# program, compilers and toolchain file.
#   cmake -DSOURCE=... "-DCONFIGURE=-G;GENERATOR;-D...;..." -DPROGRAM=... -DWORK=... -P Reproducible.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/elsewhere)
file(COPY ${SOURCE}/CMakeLists.txt ${SOURCE}/LICENSE ${SOURCE}/cmake ${SOURCE}/message ${SOURCE}/entry ${SOURCE}/docs
     DESTINATION ${WORK}/elsewhere)

execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${WORK}/elsewhere -B ${WORK}/build -DBUILD_TESTING=OFF ${CONFIGURE}
    COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/build --target halvorn COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)

execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${PROGRAM} ${WORK}/build/entry/halvorn.exe RESULT_VARIABLE differ)
if(differ)
    message(FATAL_ERROR "a second build in ${WORK} differs from ${PROGRAM}")
endif()
message(STATUS "a second build in another folder is byte-identical")
