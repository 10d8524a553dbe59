# find_package(PvtCorrelator CONFIG REQUIRED) from an unpacked PvtCorrelator
# package or a "cmake --install" folder (give its top folder in
# CMAKE_PREFIX_PATH, or this folder in PvtCorrelator_DIR). Gives:
#
#   PvtCorrelator::headers       INTERFACE target: the include folder (the
#                                host's IDL and its widl header, the host
#                                interfaces, the classes' identifiers) and
#                                the COM libraries they need
#   PvtCorrelator_MODULE         the module, <prefix>/bin/PvtCorrelator.dll
#   PvtCorrelator_HOST_TYPELIB   the host's correlation type library
#   PvtCorrelator_DATA_SERVER    the reference data server varhub2.dll
#   PvtCorrelator_PVTHOST        the reference host pvthost.exe (register,
#                                unregister, doctor)
#   PvtCorrelator_INCLUDE_DIR    the include folder
#
# PvtCorrelatorConfigVersion.cmake beside this file gives PvtCorrelator_VERSION
# and accepts requests of the same major version from 64-bit projects.

get_filename_component(_pvt_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)

set(PvtCorrelator_INCLUDE_DIR "${_pvt_prefix}/include")
set(PvtCorrelator_MODULE "${_pvt_prefix}/bin/PvtCorrelator.dll")
set(PvtCorrelator_HOST_TYPELIB "${_pvt_prefix}/bin/HostCorrelation.tlb")
set(PvtCorrelator_DATA_SERVER "${_pvt_prefix}/refhost/varhub2.dll")
set(PvtCorrelator_PVTHOST "${_pvt_prefix}/refhost/pvthost.exe")

foreach(_pvt_file IN ITEMS "${PvtCorrelator_INCLUDE_DIR}/PvtCorrelatorClasses.h"
                           "${PvtCorrelator_MODULE}")
  if(NOT EXISTS "${_pvt_file}")
    set(PvtCorrelator_FOUND FALSE)
    set(PvtCorrelator_NOT_FOUND_MESSAGE "${_pvt_file} is missing: an incomplete package")
    unset(_pvt_file)
    unset(_pvt_prefix)
    return()
  endif()
endforeach()
unset(_pvt_file)

if(NOT TARGET PvtCorrelator::headers)
  add_library(PvtCorrelator::headers INTERFACE IMPORTED)
  set_target_properties(PvtCorrelator::headers PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${PvtCorrelator_INCLUDE_DIR}"
    INTERFACE_LINK_LIBRARIES "ole32;oleaut32;uuid"
    INTERFACE_COMPILE_FEATURES cxx_std_17)
endif()
unset(_pvt_prefix)
