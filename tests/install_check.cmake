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

# GeoPackage output and reprojection come from modules installed beside the libraries; the
# installed program finds and loads them.
execute_process(COMMAND "${PREFIX}/bin/korvexpro" --config "${PREFIX}/check.ini" convert -q --format gpkg
                        --to-crs EPSG:4490 --from-crs EPSG:2432 -o "${PREFIX}/gpkg-check" "${EXAMPLES}/geology.mpj"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT EXISTS "${PREFIX}/gpkg-check/geology/geology.gpkg")
  message(FATAL_ERROR "installed korvexpro did not write a reprojected GeoPackage (${rc}): ${out}${err}")
endif()

# The desktop program: installed with its widget library, its menu entry and its icon; it starts
# (offscreen) and is still running when stopped after a few seconds.
if(GUI)
  foreach(f bin/korvexpro-gui share/applications/korvexpro-gui.desktop share/icons/hicolor/scalable/apps/korvexpro.svg
            share/mime/packages/korvexpro.xml)
    if(NOT EXISTS "${PREFIX}/${f}")
      message(FATAL_ERROR "the install tree holds no ${f}")
    endif()
  endforeach()
  file(GLOB wendle "${PREFIX}/lib*/libwendle.so.*" "${PREFIX}/lib/*/libwendle.so.*")
  if(NOT wendle)
    message(FATAL_ERROR "the install tree holds no libwendle")
  endif()
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env QT_QPA_PLATFORM=offscreen "${PREFIX}/bin/korvexpro-gui" --version
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "korvexpro-gui [0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+")
    message(FATAL_ERROR "installed korvexpro-gui --version failed (${rc}): ${out}${err}")
  endif()
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env QT_QPA_PLATFORM=offscreen
                          "${PREFIX}/bin/korvexpro-gui" --config "${PREFIX}/gui-check.ini"
                  TIMEOUT 4 RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc MATCHES "timeout")
    message(FATAL_ERROR "installed korvexpro-gui did not keep running (${rc}): ${err}")
  endif()
endif()
