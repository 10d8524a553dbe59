# Reads src/correlations/Catalogue.table. Included by the build (to learn the
# names of the generated files) and by GenerateCatalogue.cmake (to generate
# them), so that both see the same rows and the same errors.
#
# pvt_read_catalogue(<table>) sets in the caller's scope:
#   CATALOGUE_ROWS           the row indices 0..n-1, in table order
#   CATALOGUE_<i>_NAME       catalogue name
#   CATALOGUE_<i>_CLASS_ID   class identifier as the registry scripts write it
#   CATALOGUE_<i>_IID        identifier of the own dual interface
#   CATALOGUE_<i>_SCRIPT     "REGISTRY" resource identifier
#   CATALOGUE_<i>_DISPLAY    display name ("-" for a type-library-only name)
#   CATALOGUE_<i>_KIND       kind code ("-" for a type-library-only name)
#   CATALOGUE_<i>_PUBLICATION  slot number, MassFlowRate, VolFlowRate,
#                            Viscosity, or "typelib"
# A malformed table stops with FATAL_ERROR naming the line.

include_guard(GLOBAL)

# CMake regular expressions have no {n} repetition: spell the digits out.
string(REPEAT "[0-9A-Fa-f]" 4 _pvt_hex4)
string(REPEAT "[0-9A-Fa-f]" 8 _pvt_hex8)
string(REPEAT "[0-9A-Fa-f]" 12 _pvt_hex12)
set(PVT_GUID_REGEX
    "^{${_pvt_hex8}-${_pvt_hex4}-${_pvt_hex4}-${_pvt_hex4}-${_pvt_hex12}}$")

function(_pvt_catalogue_error table number message)
  message(FATAL_ERROR "${table}:${number}: ${message}")
endfunction()

# Checks one row's fields; fields that depend on the other rows (uniqueness,
# order) are checked by the caller.
function(_pvt_check_row table number name class_id iid script display kind publication)
  if(NOT name MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
    _pvt_catalogue_error(${table} ${number} "bad catalogue name \"${name}\"")
  endif()
  foreach(guid IN ITEMS "${class_id}" "${iid}")
    if(NOT guid MATCHES "${PVT_GUID_REGEX}")
      _pvt_catalogue_error(${table} ${number} "bad identifier \"${guid}\"")
    endif()
  endforeach()
  if(NOT script MATCHES "^[0-9]+$" OR script LESS 1 OR script GREATER 65535)
    _pvt_catalogue_error(${table} ${number} "bad resource identifier \"${script}\"")
  endif()
  if(publication STREQUAL "typelib")
    if(NOT display STREQUAL "-" OR NOT kind STREQUAL "-")
      _pvt_catalogue_error(${table} ${number}
                           "a type-library-only name has \"-\" as display name and kind")
    endif()
    return()
  endif()
  if(display STREQUAL "" OR display MATCHES "[\"\\\\]")
    _pvt_catalogue_error(${table} ${number} "bad display name \"${display}\"")
  endif()
  if(NOT kind MATCHES "^-?[0-9]+$")
    _pvt_catalogue_error(${table} ${number} "bad kind code \"${kind}\"")
  endif()
  if(publication MATCHES "^[0-9]+$")
    if(publication GREATER 28)
      _pvt_catalogue_error(${table} ${number} "slot ${publication} is not in 0..28")
    endif()
  elseif(NOT publication MATCHES "^(MassFlowRate|VolFlowRate|Viscosity)$")
    _pvt_catalogue_error(${table} ${number} "bad publication \"${publication}\"")
  endif()
endfunction()

function(pvt_read_catalogue table)
  file(STRINGS "${table}" lines)
  set(rows "")
  set(seen_names "")
  set(seen_guids "")
  set(seen_scripts "")
  set(in_typelib_rows FALSE)
  set(number 0)
  set(index 0)
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    # file(STRINGS) already split the lines at ";", so a row holding one
    # arrives in pieces and fails the field count below.
    string(REPLACE "|" ";" fields "${line}")
    list(LENGTH fields count)
    if(NOT count EQUAL 7)
      _pvt_catalogue_error(${table} ${number} "expected 7 fields, found ${count}")
    endif()
    set(values "")
    foreach(field IN LISTS fields)
      string(STRIP "${field}" field)
      list(APPEND values "${field}")
    endforeach()
    list(GET values 0 name)
    list(GET values 1 class_id)
    list(GET values 2 iid)
    list(GET values 3 script)
    list(GET values 4 display)
    list(GET values 5 kind)
    list(GET values 6 publication)
    _pvt_check_row(${table} ${number} "${name}" "${class_id}" "${iid}" "${script}"
                   "${display}" "${kind}" "${publication}")

    if(publication STREQUAL "typelib")
      set(in_typelib_rows TRUE)
    elseif(in_typelib_rows)
      _pvt_catalogue_error(${table} ${number}
                           "class rows must come before the type-library-only names")
    endif()
    if(name IN_LIST seen_names)
      _pvt_catalogue_error(${table} ${number} "name ${name} appears twice")
    endif()
    if(script IN_LIST seen_scripts)
      _pvt_catalogue_error(${table} ${number} "resource ${script} appears twice")
    endif()
    string(TOUPPER "${class_id}" upper_class_id)
    string(TOUPPER "${iid}" upper_iid)
    foreach(guid IN ITEMS "${upper_class_id}" "${upper_iid}")
      if(guid IN_LIST seen_guids)
        _pvt_catalogue_error(${table} ${number} "identifier ${guid} appears twice")
      endif()
      list(APPEND seen_guids "${guid}")
    endforeach()
    list(APPEND seen_names "${name}")
    list(APPEND seen_scripts "${script}")

    set(CATALOGUE_${index}_NAME "${name}" PARENT_SCOPE)
    set(CATALOGUE_${index}_CLASS_ID "${class_id}" PARENT_SCOPE)
    set(CATALOGUE_${index}_IID "${iid}" PARENT_SCOPE)
    set(CATALOGUE_${index}_SCRIPT "${script}" PARENT_SCOPE)
    set(CATALOGUE_${index}_DISPLAY "${display}" PARENT_SCOPE)
    set(CATALOGUE_${index}_KIND "${kind}" PARENT_SCOPE)
    set(CATALOGUE_${index}_PUBLICATION "${publication}" PARENT_SCOPE)
    list(APPEND rows ${index})
    math(EXPR index "${index} + 1")
  endforeach()
  if(index EQUAL 0)
    message(FATAL_ERROR "${table}: no rows")
  endif()
  set(CATALOGUE_ROWS "${rows}" PARENT_SCOPE)
endfunction()

# pvt_guid_initializer(<guid> <out>): the C initializer of a GUID in registry
# form with its braces, for the generated sources:
# "{4DF4A90C-3E4E-4a2e-8186-3C9042C91674}" ->
# "{0x4DF4A90C, 0x3E4E, 0x4A2E, {0x81, 0x86, 0x3C, 0x90, 0x42, 0xC9, 0x16, 0x74}}"
function(pvt_guid_initializer guid out)
  string(TOUPPER "${guid}" guid)
  string(SUBSTRING "${guid}" 1 8 data1)
  string(SUBSTRING "${guid}" 10 4 data2)
  string(SUBSTRING "${guid}" 15 4 data3)
  string(SUBSTRING "${guid}" 20 4 data4a)
  string(SUBSTRING "${guid}" 25 12 data4b)
  set(bytes "")
  foreach(offset 0 2)
    string(SUBSTRING "${data4a}" ${offset} 2 byte)
    list(APPEND bytes "0x${byte}")
  endforeach()
  foreach(offset 0 2 4 6 8 10)
    string(SUBSTRING "${data4b}" ${offset} 2 byte)
    list(APPEND bytes "0x${byte}")
  endforeach()
  list(JOIN bytes ", " bytes)
  set(${out} "{0x${data1}, 0x${data2}, 0x${data3}, {${bytes}}}" PARENT_SCOPE)
endfunction()
