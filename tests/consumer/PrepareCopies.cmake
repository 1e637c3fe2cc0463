# Makes the two installed copies the consumer is built against, from scratch on every run:
#   WORK_DIR/prefix    cmake --install of BUILD_DIR
#   WORK_DIR/debroot   every Debian package of BUILD_DIR, unpacked with dpkg -x
# and the image the consumer loads, WORK_DIR/sample.png.
function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "failed (${result}): ${ARGN}")
    endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR}/prefix ${WORK_DIR}/packages ${WORK_DIR}/debroot
    ${WORK_DIR}/build-prefix ${WORK_DIR}/build-debroot)

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix)
run(${CPACK} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR}/packages)
file(GLOB packages ${WORK_DIR}/packages/*.deb)
list(LENGTH packages count)
if(count EQUAL 0)
    message(FATAL_ERROR "cpack made no package")
endif()
foreach(package IN LISTS packages)
    run(dpkg -x ${package} ${WORK_DIR}/debroot)
endforeach()
run(${SAMPLE} ${WORK_DIR}/sample.png)
