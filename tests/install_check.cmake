# Installs the build into a fresh prefix and runs the installed command line from there, so the
# install rules carry everything the program needs at run time.
#   cmake -DBUILD_DIR=... -DPREFIX=... -P install_check.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
if(NOT EXISTS "${PREFIX}/bin/korvexpro")
  message(FATAL_ERROR "the install tree holds no bin/korvexpro")
endif()
execute_process(COMMAND "${PREFIX}/bin/korvexpro" --help
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "installed korvexpro --help failed (${rc}): ${err}")
endif()
if(NOT out MATCHES "convert")
  message(FATAL_ERROR "installed korvexpro --help does not list the convert command:\n${out}")
endif()
