# Generates from the correlation catalogue table, in CMake script mode:
#   cmake -DTABLE=<Catalogue.table> -DOUTPUT_DIR=<dir> -P GenerateCatalogue.cmake
#
# Writes into OUTPUT_DIR:
#   CatalogueSize.inc        the C++ catalogue's size: the number of class rows
#   CatalogueRows.inc        initializers of the C++ catalogue (class rows only)
#   CatalogueClasses.inc     one PVT_CORRELATION_CLASS(name, index) per class row
#   PvtCorrelator.idl        the type library source: every row, as a pair
#                            coclass N, dual interface IN, in table order
#   scripts/<N>.rgs          the registry script of every row
#   CatalogueResources.rc    the "REGISTRY" lines of the scripts and the
#                            "TYPELIB" line of OUTPUT_DIR/PvtCorrelator.tlb

cmake_minimum_required(VERSION 3.25)

if(NOT DEFINED TABLE OR NOT DEFINED OUTPUT_DIR)
  message(FATAL_ERROR "usage: cmake -DTABLE=<table> -DOUTPUT_DIR=<dir> -P ${CMAKE_SCRIPT_MODE_FILE}")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/CatalogueTable.cmake)

# The module's type library and the prefix of its programmatic identifiers.
set(LIBRARY_NAME PVTCORRELATORLib)
set(LIBRARY_ID "{DEEC13C7-7766-4086-8C1B-434FBF176F1C}")
set(LIBRARY_HELP "PvtCorrelator 1.0 Type Library")
set(PROGID_PREFIX PvtCorrelator)

set(GENERATED_NOTE "Generated from Catalogue.table by GenerateCatalogue.cmake: edit the table.")

# The registry form without braces, as IDL's uuid() attribute takes it.
function(guid_bare guid out)
  string(REGEX REPLACE "^{(.*)}$" "\\1" bare "${guid}")
  set(${out} "${bare}" PARENT_SCOPE)
endfunction()

function(catalogue_row_initializer i out)
  pvt_guid_initializer("${CATALOGUE_${i}_CLASS_ID}" class_id)
  pvt_guid_initializer("${CATALOGUE_${i}_IID}" iid)
  set(publication "${CATALOGUE_${i}_PUBLICATION}")
  if(publication MATCHES "^[0-9]+$")
    set(kind_of_publication Common)
    set(slot ${publication})
  else()
    # A derived publication reads several slots; it has no single one.
    set(kind_of_publication ${publication})
    set(slot -1)
  endif()
  string(CONCAT row
      "    {\"${CATALOGUE_${i}_NAME}\",\n"
      "     ${class_id},\n"
      "     ${iid},\n"
      "     ${CATALOGUE_${i}_SCRIPT}, \"${CATALOGUE_${i}_DISPLAY}\", ${CATALOGUE_${i}_KIND},\n"
      "     Publication::${kind_of_publication}, ${slot}},\n")
  set(${out} "${row}" PARENT_SCOPE)
endfunction()

function(write_catalogue_rows path)
  set(text "// ${GENERATED_NOTE}\n")
  foreach(i IN LISTS CATALOGUE_ROWS)
    if(NOT CATALOGUE_${i}_PUBLICATION STREQUAL "typelib")
      catalogue_row_initializer(${i} row)
      string(APPEND text "${row}")
    endif()
  endforeach()
  file(WRITE "${path}" "${text}")
endfunction()

function(write_catalogue_size path)
  set(count 0)
  foreach(i IN LISTS CATALOGUE_ROWS)
    if(NOT CATALOGUE_${i}_PUBLICATION STREQUAL "typelib")
      math(EXPR count "${count} + 1")
    endif()
  endforeach()
  file(WRITE "${path}" "// ${GENERATED_NOTE}\ninline constexpr int kCatalogueSize = ${count};\n")
endfunction()

# The class rows come first in the table, so a class's index is its row's.
function(write_class_list path)
  set(text "// ${GENERATED_NOTE}\n")
  foreach(i IN LISTS CATALOGUE_ROWS)
    if(NOT CATALOGUE_${i}_PUBLICATION STREQUAL "typelib")
      string(APPEND text "PVT_CORRELATION_CLASS(${CATALOGUE_${i}_NAME}, ${i})\n")
    endif()
  endforeach()
  file(WRITE "${path}" "${text}")
endfunction()

function(idl_interface i out)
  set(name "${CATALOGUE_${i}_NAME}")
  guid_bare("${CATALOGUE_${i}_IID}" iid)
  string(CONCAT block
      "[\n"
      "\tobject,\n"
      "\tuuid(${iid}),\n"
      "\tdual,\n"
      "\toleautomation,\n"
      "\thelpstring(\"I${name} Interface\"),\n"
      "\tpointer_default(unique)\n"
      "]\n"
      "interface I${name} : IDispatch\n"
      "{\n"
      "};\n\n")
  set(${out} "${block}" PARENT_SCOPE)
endfunction()

function(idl_coclass i out)
  set(name "${CATALOGUE_${i}_NAME}")
  guid_bare("${CATALOGUE_${i}_CLASS_ID}" class_id)
  string(CONCAT block
      "\t[\n"
      "\t\tuuid(${class_id}),\n"
      "\t\thelpstring(\"${name} Class\")\n"
      "\t]\n"
      "\tcoclass ${name}\n"
      "\t{\n"
      "\t\t[default] interface I${name};\n"
      "\t};\n"
      "\tinterface I${name};\n\n")
  set(${out} "${block}" PARENT_SCOPE)
endfunction()

# The interfaces are declared before the library; inside it each coclass is
# followed by its interface, which gives the library's type order: coclass
# N, then I N, row by row.
function(write_idl path)
  guid_bare("${LIBRARY_ID}" library_id)
  set(text "// ${GENERATED_NOTE}\n\nimport \"oaidl.idl\";\nimport \"ocidl.idl\";\n\n")
  foreach(i IN LISTS CATALOGUE_ROWS)
    idl_interface(${i} block)
    string(APPEND text "${block}")
  endforeach()
  string(APPEND text
         "[\n"
         "\tuuid(${library_id}),\n"
         "\tversion(1.0),\n"
         "\tlcid(0),\n"
         "\thelpstring(\"${LIBRARY_HELP}\")\n"
         "]\n"
         "library ${LIBRARY_NAME}\n"
         "{\n"
         "\timportlib(\"stdole2.tlb\");\n\n")
  foreach(i IN LISTS CATALOGUE_ROWS)
    idl_coclass(${i} block)
    string(APPEND text "${block}")
  endforeach()
  string(APPEND text "};\n")
  file(WRITE "${path}" "${text}")
endfunction()

# The registry script of one class: 26 lines, tab-indented, every line
# (the last too) ending in CR LF.
function(registry_script name class_id out)
  set(progid "${PROGID_PREFIX}.${name}")
  set(lines
      "HKCR"
      "{"
      "\t${progid}.1 = s '${name} Class'"
      "\t{"
      "\t\tCLSID = s '${class_id}'"
      "\t}"
      "\t${progid} = s '${name} Class'"
      "\t{"
      "\t\tCLSID = s '${class_id}'"
      "\t\tCurVer = s '${progid}.1'"
      "\t}"
      "\tNoRemove CLSID"
      "\t{"
      "\t\tForceRemove ${class_id} = s '${name} Class'"
      "\t\t{"
      "\t\t\tProgID = s '${progid}.1'"
      "\t\t\tVersionIndependentProgID = s '${progid}'"
      "\t\t\tForceRemove 'Programmable'"
      "\t\t\tInprocServer32 = s '%MODULE%'"
      "\t\t\t{"
      "\t\t\t\tval ThreadingModel = s 'Apartment'"
      "\t\t\t}"
      "\t\t\t'TypeLib' = s '${LIBRARY_ID}'"
      "\t\t}"
      "\t}"
      "}")
  list(JOIN lines "\r\n" text)
  set(${out} "${text}\r\n" PARENT_SCOPE)
endfunction()

function(write_scripts directory)
  foreach(i IN LISTS CATALOGUE_ROWS)
    registry_script("${CATALOGUE_${i}_NAME}" "${CATALOGUE_${i}_CLASS_ID}" text)
    file(WRITE "${directory}/${CATALOGUE_${i}_NAME}.rgs" "${text}")
  endforeach()
endfunction()

# Resource lines in ascending identifier order.
function(write_resource_lines path script_directory typelib)
  set(entries "")
  foreach(i IN LISTS CATALOGUE_ROWS)
    list(APPEND entries "${CATALOGUE_${i}_SCRIPT}|${CATALOGUE_${i}_NAME}")
  endforeach()
  list(SORT entries COMPARE NATURAL)
  set(text "// ${GENERATED_NOTE}\n")
  foreach(entry IN LISTS entries)
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 id)
    list(GET entry 1 name)
    string(APPEND text "${id} REGISTRY \"${script_directory}/${name}.rgs\"\n")
  endforeach()
  string(APPEND text "1 TYPELIB \"${typelib}\"\n")
  file(WRITE "${path}" "${text}")
endfunction()

pvt_read_catalogue("${TABLE}")
file(MAKE_DIRECTORY "${OUTPUT_DIR}/scripts")
write_catalogue_size("${OUTPUT_DIR}/CatalogueSize.inc")
write_catalogue_rows("${OUTPUT_DIR}/CatalogueRows.inc")
write_class_list("${OUTPUT_DIR}/CatalogueClasses.inc")
write_idl("${OUTPUT_DIR}/PvtCorrelator.idl")
write_scripts("${OUTPUT_DIR}/scripts")
write_resource_lines("${OUTPUT_DIR}/CatalogueResources.rc" "${OUTPUT_DIR}/scripts"
                     "${OUTPUT_DIR}/PvtCorrelator.tlb")
