# GoogleTest's sources (Debian's googletest package), built with the
# project's toolchain. Found once; PVT_GOOGLETEST_DIR takes another copy.
include_guard(GLOBAL)

find_path(PVT_GOOGLETEST_DIR googletest/include/gtest/gtest.h
  HINTS /usr/src/googletest
  PATHS /usr/local/src/googletest
  NO_CMAKE_FIND_ROOT_PATH)
if(NOT PVT_GOOGLETEST_DIR)
  message(FATAL_ERROR "GoogleTest sources not found: install googletest "
                      "(scripts/install-deps.sh), or set PVT_GOOGLETEST_DIR to them")
endif()

# Adds the gtest and gtest_main targets (GTest::gtest, GTest::gtest_main).
# Warnings in GoogleTest's own sources never fail our build.
function(pvt_add_googletest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(CMAKE_COMPILE_WARNING_AS_ERROR OFF)
  add_subdirectory(${PVT_GOOGLETEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endfunction()
