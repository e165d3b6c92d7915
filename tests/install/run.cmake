# Installs the built library into a scratch prefix, then configures, builds and runs the
# consumer project against it, and runs the installed tool (when WITH_TOOL) as a user would:
# without LD_LIBRARY_PATH, so that it finds libtolvane through its own RPATH. Called by CTest
# with -DBUILD_DIR, -DSOURCE_DIR, -DWORK_DIR and -DWITH_TOOL.
file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${WORK_DIR}/prefix"
                RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "install failed")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}/tests/install" -B "${WORK_DIR}/build"
                        "-DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix" -DCMAKE_BUILD_TYPE=Release
                RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "configuring the consumer failed")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${WORK_DIR}/build" RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "building the consumer failed")
endif()
execute_process(COMMAND "${WORK_DIR}/build/consumer" RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "the consumer failed")
endif()
if(WITH_TOOL)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=LD_LIBRARY_PATH
                          "${WORK_DIR}/prefix/bin/tolvane" --help
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc OR NOT out MATCHES "Usage: tolvane COMMAND")
    message(FATAL_ERROR "the installed tool failed (${rc}): ${err}")
  endif()
endif()
