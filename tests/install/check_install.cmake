# Installs the build tree into WORK_DIR/prefix, builds the outside project SOURCE_DIR against it
# and runs its programs RUN_PROGRAMS (separated by commas; default: ccal_install_app).
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "command failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/app -G "${GENERATOR}"
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/app)
string(REPLACE "," ";" RUN_PROGRAMS "${RUN_PROGRAMS}")
if(NOT RUN_PROGRAMS)
  set(RUN_PROGRAMS ccal_install_app)
endif()
foreach(program ${RUN_PROGRAMS})
  run(${WORK_DIR}/app/${program})
endforeach()
if(CHECK_TOOL)
  # The installed tool finds the installed library and the installed data.
  run(${prefix}/bin/ccal-calibrate --version)
  run(${prefix}/bin/ccal-calibrate ${prefix}/share/ccal/data/telecentric-exact.json)
endif()
message(STATUS "installed package builds and runs")
