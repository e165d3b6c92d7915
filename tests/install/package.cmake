# Builds the Debian package with CPack, unpacks it into a scratch root, checks that it holds
# the library, the headers, the CMake package config and the tool, then builds and runs the
# consumer project against the unpacked /usr and runs the unpacked tool. Called by CTest with
# -DCPACK, -DBUILD_DIR, -DSOURCE_DIR, -DWORK_DIR and -DVERSION.
file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(COMMAND "${CPACK}" -G DEB --config "${BUILD_DIR}/CPackConfig.cmake"
                        -B "${WORK_DIR}/deb"
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "cpack -G DEB failed")
endif()
file(GLOB debs "${WORK_DIR}/deb/*.deb")
list(LENGTH debs n)
if(NOT n EQUAL 1)
  message(FATAL_ERROR "expected one .deb, found: ${debs}")
endif()
execute_process(COMMAND dpkg-deb -x ${debs} "${WORK_DIR}/root" RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "dpkg-deb -x failed")
endif()
set(usr "${WORK_DIR}/root/usr")
foreach(f bin/tolvane lib/libtolvane.so.${VERSION} include/tolvane/DistanceStatistics.h
          include/tolvane/interfaces/container/KaCSurfelCollectionCCT.h
          lib/cmake/tolvane/tolvaneConfig.cmake)
  if(NOT EXISTS "${usr}/${f}")
    message(FATAL_ERROR "the package lacks /usr/${f}")
  endif()
endforeach()
execute_process(COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}/tests/install" -B "${WORK_DIR}/build"
                        "-DCMAKE_PREFIX_PATH=${usr}" -DCMAKE_BUILD_TYPE=Release
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "configuring the consumer against the package failed")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${WORK_DIR}/build" RESULT_VARIABLE rc
                OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "building the consumer against the package failed")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E env "LD_LIBRARY_PATH=${usr}/lib"
                        "${WORK_DIR}/build/consumer"
                RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "the consumer built against the package failed")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E env "LD_LIBRARY_PATH=${usr}/lib"
                        "${usr}/bin/tolvane" --version
                RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(rc OR NOT out STREQUAL "tolvane ${VERSION}\n")
  message(FATAL_ERROR "the packaged tool failed: '${out}'")
endif()
