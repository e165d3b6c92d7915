# Installs the build into a fresh prefix and imports the installed package from there with the
# system interpreter, away from the build tree: the extension must find the installed library.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=${PREFIX}/${SITE_DIR}
          ${PYTHON} -c "import tolvane, sys; assert tolvane.__file__.startswith('${PREFIX}'), tolvane.__file__; c = tolvane.generate_phantom(count=20000); print(tolvane.analyze_phantom(c, seed=1).texts[0])"
  WORKING_DIRECTORY ${PREFIX}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the installed package does not import")
endif()
