# What "cmake --install" puts in a folder and "cpack" zips:
#
#   bin/PvtCorrelator.dll          the module, stripped
#   bin/PvtCorrelator.dll.debug    its symbols (the module names this file in
#                                  its .gnu_debuglink section)
#   bin/HostCorrelation.tlb        the host's correlation type library
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

install(PROGRAMS $<TARGET_FILE:PvtCorrelator> DESTINATION bin)
install(FILES ${CMAKE_BINARY_DIR}/bin/HostCorrelation.tlb DESTINATION bin)
install(PROGRAMS $<TARGET_FILE:pvthost> $<TARGET_FILE:refhost_varhub2> DESTINATION refhost)
install(FILES refhost/fluids/black-oil.fluid refhost/fluids/no-water.fluid
        DESTINATION refhost/fluids)
install(FILES refhost/README.md DESTINATION refhost)
install(FILES docs/behaviour.md DESTINATION docs)
install(FILES README.md DESTINATION .)

# The module's symbols go to a file of their own beside it, and the module
# is stripped, at install time: the build tree keeps the unstripped module
# that the tests and debuggers use. The debug link names the file and its
# checksum, so a debugger finds it beside the module.
find_program(PVT_OBJCOPY ${PVT_MINGW_TRIPLET}-objcopy REQUIRED)
install(CODE "
  set(module \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/PvtCorrelator.dll\")
  foreach(step
      \"--only-keep-debug;PvtCorrelator.dll;PvtCorrelator.dll.debug\"
      \"--strip-debug;--strip-unneeded;PvtCorrelator.dll\"
      \"--add-gnu-debuglink=PvtCorrelator.dll.debug;PvtCorrelator.dll\")
    execute_process(COMMAND \"${PVT_OBJCOPY}\" \${step}
                    WORKING_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\"
                    RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR \"objcopy \${step} failed on \${module}\")
    endif()
  endforeach()
  message(STATUS \"Stripped: \${module} (symbols in PvtCorrelator.dll.debug)\")
")

# The ZIP package PvtCorrelator-<version>-win64.zip, whose one top folder
# holds the layout above.
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME PvtCorrelator)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "64-bit in-process COM server of 26 black-oil correlations, with a reference host")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
