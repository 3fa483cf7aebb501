# Installs the build tree into WORK_DIR/prefix and checks that the installed Python package
# imports (its extension finding the installed library) and calibrates a bundled set.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${err}")
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=${prefix}/${PACKAGE_DIR} ${PYTHON} -c
    "import ccal, sys; assert ccal.__file__.startswith(sys.argv[1]), ccal.__file__; r = ccal.calibrate_line_scan(ccal.load_points(sys.argv[2])); assert r.rms < 1e-9; print('installed ccal works:', r)"
    ${prefix} ${DATA_DIR}/linescan-exact.json
  WORKING_DIRECTORY ${WORK_DIR}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the installed package does not work (${rc}):\n${out}\n${err}")
endif()
message(STATUS "${out}")
