# cpack's post-build script (CPACK_POST_BUILD_SCRIPTS, Package.cmake): writes
# the ZIP that cpack made again from the same staged folder with
# DeterministicZip.py, so that the same files always give the same archive.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.zip$")
    continue()
  endif()
  # The staged folder, named like the package: the archive's top folder.
  set(staged "${CPACK_TEMPORARY_DIRECTORY}")
  if(NOT IS_DIRECTORY "${staged}")
    message(FATAL_ERROR "DeterministicZip: no staged folder ${staged}")
  endif()
  execute_process(COMMAND "${CPACK_PVT_PYTHON}" "${CPACK_PVT_ZIP_WRITER}" "${staged}" "${package}"
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "DeterministicZip: could not write ${package}")
  endif()
endforeach()
