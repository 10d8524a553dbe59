# Generates the SDK's PvtCorrelatorClasses.h, in CMake script mode:
#   cmake -DTABLE=<Catalogue.table> -DHOST_IDL=<HostCorrelation.idl>
#         -DVERSION=<x.y.z> -DOUTPUT=<file> -P GenerateSdkHeader.cmake
#
# What a host names the module's classes by: for each class row of the
# catalogue its class identifier, the identifier of its own dual interface
# and its two programmatic identifiers; the module's and the host's type
# library identifiers and ICorrelation's; and the three entries that follow
# IDispatch's in every class's primary interface.

cmake_minimum_required(VERSION 3.25)

foreach(required TABLE HOST_IDL VERSION OUTPUT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "usage: cmake -DTABLE=<table> -DHOST_IDL=<idl> -DVERSION=<x.y.z> "
                        "-DOUTPUT=<file> -P ${CMAKE_SCRIPT_MODE_FILE}")
  endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/CatalogueTable.cmake)

# Kept in step with GenerateCatalogue.cmake, which writes the registry
# scripts and the type library these identifiers must match (the SDK test
# compares them with what the module registers).
set(PROGID_PREFIX PvtCorrelator)
set(LIBRARY_ID "{DEEC13C7-7766-4086-8C1B-434FBF176F1C}")

# The identifier written just before "library NAME" or "interface NAME" in
# the host's IDL.
function(idl_uuid idl kind name out)
  file(READ "${idl}" text)
  string(REGEX MATCH "uuid\\(([0-9A-Fa-f-]+)\\)[^]]*\\][ \t\r\n]*${kind}[ \t\r\n]+${name}[^A-Za-z0-9_]"
         match "${text}")
  if(NOT match)
    message(FATAL_ERROR "${idl}: no uuid for ${kind} ${name}")
  endif()
  pvt_guid_initializer("{${CMAKE_MATCH_1}}" initializer)
  set(${out} "${initializer}" PARENT_SCOPE)
endfunction()

pvt_read_catalogue("${TABLE}")
idl_uuid("${HOST_IDL}" library HostCorrelationLib host_library)
idl_uuid("${HOST_IDL}" interface ICorrelation correlation_iid)
pvt_guid_initializer("${LIBRARY_ID}" module_library)

set(constants "")
set(entries "")
set(count 0)
foreach(i IN LISTS CATALOGUE_ROWS)
  if(CATALOGUE_${i}_PUBLICATION STREQUAL "typelib")
    continue()
  endif()
  set(name "${CATALOGUE_${i}_NAME}")
  pvt_guid_initializer("${CATALOGUE_${i}_CLASS_ID}" class_id)
  pvt_guid_initializer("${CATALOGUE_${i}_IID}" iid)
  string(TOUPPER "${CATALOGUE_${i}_CLASS_ID}" class_text)
  string(APPEND constants
    "// ${CATALOGUE_${i}_DISPLAY}: ${class_text}\n"
    "inline constexpr GUID CLSID_${name} = ${class_id};\n"
    "inline constexpr GUID IID_I${name} = ${iid};\n"
    "inline constexpr wchar_t ProgID_${name}[] = L\"${PROGID_PREFIX}.${name}.1\";\n"
    "inline constexpr wchar_t VersionIndependentProgID_${name}[] = L\"${PROGID_PREFIX}.${name}\";\n\n")
  string(APPEND entries
    "    {\"${name}\", CLSID_${name}, IID_I${name}, ProgID_${name},\n"
    "     VersionIndependentProgID_${name}},\n")
  math(EXPR count "${count} + 1")
endforeach()

configure_file(${CMAKE_CURRENT_LIST_DIR}/PvtCorrelatorClasses.h.in "${OUTPUT}" @ONLY)
