# The correlation catalogue: one table from which the build generates, with
# GenerateCatalogue.cmake, the C++ catalogue (its size, its rows and the
# class list), the module's type library source and the registry scripts
# with their resource lines; widl then compiles the type library.
include_guard(GLOBAL)

include(${CMAKE_CURRENT_LIST_DIR}/CatalogueTable.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/Widl.cmake)
set(_PVT_CATALOGUE_GENERATOR ${CMAKE_CURRENT_LIST_DIR}/GenerateCatalogue.cmake)
set(_PVT_CATALOGUE_READER ${CMAKE_CURRENT_LIST_DIR}/CatalogueTable.cmake)

# pvt_generate_catalogue(TABLE <Catalogue.table> OUTPUT_DIR <dir>
#                        CODE <library> RESOURCES <library> RESOURCE_SCRIPT <.rc>)
# Generates everything into OUTPUT_DIR under one target, pvtcatalogue, so
# that the targets using the files never run the commands concurrently.
# CODE compiles the generated C++ and the type library's identifiers;
# RESOURCES compiles RESOURCE_SCRIPT, which pulls in the scripts and the
# type library. A changed table regenerates all of them, and reconfigures,
# since the table also names the script files.
function(pvt_generate_catalogue)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "TABLE;OUTPUT_DIR;CODE;RESOURCES;RESOURCE_SCRIPT" "")
  foreach(required TABLE OUTPUT_DIR CODE RESOURCES RESOURCE_SCRIPT)
    if(NOT arg_${required})
      message(FATAL_ERROR "pvt_generate_catalogue: ${required} missing")
    endif()
  endforeach()
  set(dir ${arg_OUTPUT_DIR})

  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${arg_TABLE})
  pvt_read_catalogue(${arg_TABLE})
  set(scripts "")
  foreach(row IN LISTS CATALOGUE_ROWS)
    list(APPEND scripts ${dir}/scripts/${CATALOGUE_${row}_NAME}.rgs)
  endforeach()

  set(generated
    ${dir}/CatalogueSize.inc
    ${dir}/CatalogueRows.inc
    ${dir}/CatalogueClasses.inc
    ${dir}/CatalogueResources.rc
    ${dir}/PvtCorrelator.idl
    ${scripts})
  add_custom_command(
    OUTPUT ${generated}
    COMMAND ${CMAKE_COMMAND} -DTABLE=${arg_TABLE} -DOUTPUT_DIR=${dir}
            -P ${_PVT_CATALOGUE_GENERATOR}
    DEPENDS ${arg_TABLE} ${_PVT_CATALOGUE_GENERATOR} ${_PVT_CATALOGUE_READER}
    COMMENT "Generating the correlation catalogue")
  # The .tlb is also copied beside the binaries, where tests load it.
  pvt_widl(IDL ${dir}/PvtCorrelator.idl
           HEADER ${dir}/PvtCorrelator.h
           IIDS ${dir}/PvtCorrelator_i.c
           TYPELIB ${dir}/PvtCorrelator.tlb
           COPY_TO ${CMAKE_BINARY_DIR}/bin
           COMMENT "widl: PvtCorrelator type library")
  add_custom_target(pvtcatalogue DEPENDS
    ${generated} ${dir}/PvtCorrelator.h ${dir}/PvtCorrelator_i.c ${dir}/PvtCorrelator.tlb
    ${CMAKE_BINARY_DIR}/bin/PvtCorrelator.tlb)

  add_dependencies(${arg_CODE} pvtcatalogue)
  target_sources(${arg_CODE} PRIVATE ${dir}/PvtCorrelator_i.c)
  add_dependencies(${arg_RESOURCES} pvtcatalogue)
  # windres does not track what the .rc pulls in.
  set_property(SOURCE ${arg_RESOURCE_SCRIPT} APPEND PROPERTY OBJECT_DEPENDS
    ${dir}/CatalogueResources.rc ${dir}/PvtCorrelator.tlb ${scripts})
endfunction()
