# What "cmake --install" puts in a folder and "cpack" zips:
#
#   bin/PvtCorrelator.dll          the module, stripped
#   bin/PvtCorrelator.dll.debug    its symbols (the module names this file in
#                                  its .gnu_debuglink section)
#   bin/HostCorrelation.tlb        the host's correlation type library
#   include/                       the SDK's headers (Sdk.cmake)
#   lib/cmake/PvtCorrelator/       the SDK's CMake package files
#   examples/minimal-host/         the minimal host and its CMakeLists.txt,
#                                  which finds the SDK with find_package
#   refhost/pvthost.exe            the reference host's correlation manager
#   refhost/varhub2.dll            the reference data server
#   refhost/fluids/*.fluid         sample fluids
#   refhost/README.md, docs/, README.md
#
# pvthost.exe looks for the module and the host's type library in
# ..\bin\ from its own folder, which is bin\ here as in the build tree, and
# the module loads varhub2.dll by name, which the platform finds first in
# the folder of pvthost.exe. The data-server double that the tests build
# into <build>/bin is never installed.
#
# With a code-signing certificate in the environment (PVT_SIGNING_PFX, a
# PKCS#12 file, and PVT_SIGNING_PASSWORD; PVT_SIGNING_TIMESTAMP_URL if the
# signatures are to be time-stamped), the install step signs the module,
# pvthost.exe and varhub2.dll with osslsigncode (SHA-256). The password is
# read at install time and written to no file of the build.

install(PROGRAMS $<TARGET_FILE:PvtCorrelator> DESTINATION bin)
install(FILES ${CMAKE_BINARY_DIR}/bin/HostCorrelation.tlb DESTINATION bin)
install(PROGRAMS $<TARGET_FILE:pvthost> $<TARGET_FILE:refhost_varhub2> DESTINATION refhost)
install(FILES refhost/fluids/black-oil.fluid refhost/fluids/no-water.fluid
        DESTINATION refhost/fluids)
install(FILES refhost/README.md DESTINATION refhost)
install(FILES docs/behaviour.md docs/integration.md DESTINATION docs)
install(FILES README.md DESTINATION .)
install(FILES ${PVT_SDK_HEADERS} DESTINATION include)
install(FILES ${PVT_SDK_CONFIG_DIR}/PvtCorrelatorConfig.cmake
              ${PVT_SDK_CONFIG_DIR}/PvtCorrelatorConfigVersion.cmake
        DESTINATION lib/cmake/PvtCorrelator)
install(FILES examples/minimal-host/CMakeLists.txt examples/minimal-host/MinimalHost.cpp
        DESTINATION examples/minimal-host)

# The module's symbols go to a file of their own beside it, and the module
# is stripped, at install time: the build tree keeps the unstripped module
# that the tests and debuggers use. The debug link names the file (no
# folder) and its checksum, so a debugger finds it beside the module.
# objcopy writes the time it runs into the PE header of each file it makes,
# unless SOURCE_DATE_EPOCH says otherwise: 0, as the linker leaves it.
find_program(PVT_OBJCOPY ${PVT_MINGW_TRIPLET}-objcopy REQUIRED)
install(CODE "
  set(module \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/PvtCorrelator.dll\")
  foreach(step
      \"--only-keep-debug;PvtCorrelator.dll;PvtCorrelator.dll.debug\"
      \"--strip-debug;--strip-unneeded;PvtCorrelator.dll\"
      \"--add-gnu-debuglink=PvtCorrelator.dll.debug;PvtCorrelator.dll\")
    execute_process(COMMAND \"${CMAKE_COMMAND}\" -E env SOURCE_DATE_EPOCH=0
                            \"${PVT_OBJCOPY}\" \${step}
                    WORKING_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\"
                    RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR \"objcopy \${step} failed on \${module}\")
    endif()
  endforeach()
  message(STATUS \"Stripped: \${module} (symbols in PvtCorrelator.dll.debug)\")
")

# Signing comes last: the signature covers the file as shipped.
install(CODE "
  set(PVT_SIGN_FILES
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/PvtCorrelator.dll\"
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/refhost/pvthost.exe\"
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/refhost/varhub2.dll\")
  set(PVT_SIGN_WORK_DIR \"${CMAKE_BINARY_DIR}/signing\")
  include(\"${CMAKE_CURRENT_LIST_DIR}/SignFiles.cmake\")
")

# The ZIP package PvtCorrelator-<version>-win64.zip, whose one top folder
# holds the layout above. cpack's own ZIP keeps each file's times and the
# order the folder is read in; DeterministicZip.cmake writes it again with
# sorted entries, one fixed time and fixed permissions.
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME PvtCorrelator)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "64-bit in-process COM server of 26 black-oil correlations, with a reference host")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PVT_PYTHON ${PVT_PYTHON})
set(CPACK_PVT_ZIP_WRITER ${CMAKE_CURRENT_LIST_DIR}/DeterministicZip.py)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DeterministicZip.cmake)
include(CPack)
