# widl and what the IDL files import: oaidl.idl and its companions (from
# libwine-dev; MinGW-w64's headers ship no .idl files) and stdole2.tlb for
# importlib("stdole2.tlb"). Found once, on the build machine, not in the
# MinGW-w64 root; the cache variables take another location.
include_guard(GLOBAL)

find_program(PVT_WIDL_EXECUTABLE NAMES ${PVT_WIDL} REQUIRED)
# widl stamps every type library with the time it runs; the stamp is fixed
# right after it (FixTypeLibStamp.py), so that a library, and the module
# that embeds one, come out the same from every build.
find_program(PVT_PYTHON NAMES python3 REQUIRED)
set(_PVT_TLB_STAMP_FIXER ${CMAKE_CURRENT_LIST_DIR}/FixTypeLibStamp.py)

find_path(PVT_WIDL_IDL_DIR oaidl.idl
  HINTS /usr/include/wine/wine/windows
  PATH_SUFFIXES wine/wine/windows wine/windows
  NO_CMAKE_FIND_ROOT_PATH)
if(NOT PVT_WIDL_IDL_DIR)
  message(FATAL_ERROR "oaidl.idl not found: install libwine-dev (scripts/install-deps.sh), "
                      "or set PVT_WIDL_IDL_DIR to the folder that holds it")
endif()

find_path(PVT_WIDL_TLB_DIR stdole2.tlb
  HINTS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
  PATH_SUFFIXES wine/x86_64-windows
  NO_CMAKE_FIND_ROOT_PATH)
if(NOT PVT_WIDL_TLB_DIR)
  message(FATAL_ERROR "stdole2.tlb not found: install libwine (wine64 brings it; "
                      "scripts/install-deps.sh), or set PVT_WIDL_TLB_DIR to its folder")
endif()

# pvt_widl(IDL <file> HEADER <file> IIDS <file> TYPELIB <file> [COPY_TO <dir>]
#          COMMENT <text>)
# Compiles one IDL file into its header, its identifiers and its type
# library; COPY_TO puts a copy of the type library in a second folder. widl
# runs in the IDL's folder and is given its name alone, so that the header's
# first line names no build or source folder.
function(pvt_widl)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "IDL;HEADER;IIDS;TYPELIB;COPY_TO;COMMENT" "")
  foreach(required IDL HEADER IIDS TYPELIB)
    if(NOT arg_${required})
      message(FATAL_ERROR "pvt_widl: ${required} missing")
    endif()
  endforeach()
  set(outputs ${arg_HEADER} ${arg_IIDS} ${arg_TYPELIB})
  set(copy "")
  if(arg_COPY_TO)
    get_filename_component(name ${arg_TYPELIB} NAME)
    list(APPEND outputs ${arg_COPY_TO}/${name})
    set(copy COMMAND ${CMAKE_COMMAND} -E make_directory ${arg_COPY_TO}
             COMMAND ${CMAKE_COMMAND} -E copy ${arg_TYPELIB} ${arg_COPY_TO}/${name})
  endif()
  set(directories "")
  foreach(file IN ITEMS ${arg_HEADER} ${arg_IIDS} ${arg_TYPELIB})
    get_filename_component(directory ${file} DIRECTORY)
    list(APPEND directories ${directory})
  endforeach()
  list(REMOVE_DUPLICATES directories)
  get_filename_component(idl_directory ${arg_IDL} DIRECTORY)
  get_filename_component(idl_name ${arg_IDL} NAME)
  add_custom_command(
    OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${directories}
    COMMAND ${PVT_WIDL_EXECUTABLE} -I ${PVT_WIDL_IDL_DIR} -L ${PVT_WIDL_TLB_DIR}
            -h -H ${arg_HEADER} -u -U ${arg_IIDS} -t -T ${arg_TYPELIB} ${idl_name}
    COMMAND ${PVT_PYTHON} ${_PVT_TLB_STAMP_FIXER} ${arg_TYPELIB}
    ${copy}
    WORKING_DIRECTORY ${idl_directory}
    DEPENDS ${arg_IDL} ${_PVT_TLB_STAMP_FIXER}
    COMMENT "${arg_COMMENT}")
endfunction()
