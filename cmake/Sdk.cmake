# The SDK a host compiles against, staged in <build>/sdk with the layout that
# "cmake --install" and the package give it (Package.cmake installs it):
#
#   include/HostCorrelation.idl      the host's correlation type library source
#   include/HostCorrelation.h        ICorrelation, made from it by widl
#   include/HostInterfaces.h         the host interfaces and the property block
#   include/PvtCorrelatorClasses.h   the classes' identifiers and the primary
#                                    interface, generated from the catalogue
#   lib/cmake/PvtCorrelator/         PvtCorrelatorConfig.cmake and its version
#                                    file: find_package(PvtCorrelator CONFIG)
#
# The in-tree example compiles against the staged include/ through the
# target pvtsdk_headers, so that it sees exactly what a host gets.
include_guard(GLOBAL)
include(CMakePackageConfigHelpers)
include(${CMAKE_CURRENT_LIST_DIR}/Widl.cmake)

set(PVT_SDK_DIR ${CMAKE_BINARY_DIR}/sdk)
set(PVT_SDK_INCLUDE_DIR ${PVT_SDK_DIR}/include)
set(PVT_SDK_CONFIG_DIR ${PVT_SDK_DIR}/lib/cmake/PvtCorrelator)

configure_file(${PROJECT_SOURCE_DIR}/src/host/HostCorrelation.idl
               ${PVT_SDK_INCLUDE_DIR}/HostCorrelation.idl COPYONLY)
configure_file(${PROJECT_SOURCE_DIR}/src/host/HostInterfaces.h
               ${PVT_SDK_INCLUDE_DIR}/HostInterfaces.h COPYONLY)

# widl once more, on the staged copy, so that the header names only it.
pvt_widl(IDL ${PVT_SDK_INCLUDE_DIR}/HostCorrelation.idl
         HEADER ${PVT_SDK_INCLUDE_DIR}/HostCorrelation.h
         IIDS ${PVT_SDK_DIR}/widl/HostCorrelation_i.c
         TYPELIB ${PVT_SDK_DIR}/widl/HostCorrelation.tlb
         COMMENT "widl: the SDK's ICorrelation header")

set(_pvt_sdk_table ${PROJECT_SOURCE_DIR}/src/correlations/Catalogue.table)
add_custom_command(
  OUTPUT ${PVT_SDK_INCLUDE_DIR}/PvtCorrelatorClasses.h
  COMMAND ${CMAKE_COMMAND} -DTABLE=${_pvt_sdk_table}
          -DHOST_IDL=${PROJECT_SOURCE_DIR}/src/host/HostCorrelation.idl
          -DVERSION=${PROJECT_VERSION} -DOUTPUT=${PVT_SDK_INCLUDE_DIR}/PvtCorrelatorClasses.h
          -P ${CMAKE_CURRENT_LIST_DIR}/GenerateSdkHeader.cmake
  DEPENDS ${_pvt_sdk_table} ${PROJECT_SOURCE_DIR}/src/host/HostCorrelation.idl
          ${CMAKE_CURRENT_LIST_DIR}/GenerateSdkHeader.cmake
          ${CMAKE_CURRENT_LIST_DIR}/PvtCorrelatorClasses.h.in
          ${CMAKE_CURRENT_LIST_DIR}/CatalogueTable.cmake
  COMMENT "Generating the SDK's class identifiers")

configure_file(${CMAKE_CURRENT_LIST_DIR}/PvtCorrelatorConfig.cmake
               ${PVT_SDK_CONFIG_DIR}/PvtCorrelatorConfig.cmake COPYONLY)
# A 64-bit module: the version file also refuses a 32-bit consumer.
write_basic_package_version_file(${PVT_SDK_CONFIG_DIR}/PvtCorrelatorConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)

set(PVT_SDK_HEADERS
  ${PVT_SDK_INCLUDE_DIR}/HostCorrelation.idl
  ${PVT_SDK_INCLUDE_DIR}/HostCorrelation.h
  ${PVT_SDK_INCLUDE_DIR}/HostInterfaces.h
  ${PVT_SDK_INCLUDE_DIR}/PvtCorrelatorClasses.h)
add_custom_target(pvtsdk ALL DEPENDS ${PVT_SDK_HEADERS})

add_library(pvtsdk_headers INTERFACE)
target_include_directories(pvtsdk_headers INTERFACE ${PVT_SDK_INCLUDE_DIR})
target_link_libraries(pvtsdk_headers INTERFACE ole32 oleaut32 uuid)
add_dependencies(pvtsdk_headers pvtsdk)
