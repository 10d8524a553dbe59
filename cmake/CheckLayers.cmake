# Fails when a file of src/ includes a header from a higher layer than its
# own. The layers, bottom to top: each folder may include its own headers
# and those of the folders before it, never those after it.
#
#   cmake -DSOURCE_DIR=<src> -P CheckLayers.cmake
set(layers com host properties correlations registration module)
get_filename_component(SOURCE_DIR "${SOURCE_DIR}" ABSOLUTE)

file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*.h ${SOURCE_DIR}/*.cpp)
set(violations "")
set(checked 0)
foreach(file IN LISTS files)
  string(REGEX MATCH "^[^/]+" folder "${file}")
  list(FIND layers "${folder}" own)
  if(own EQUAL -1)
    message(FATAL_ERROR "${file}: folder '${folder}' is in no layer; add it to CheckLayers.cmake")
  endif()
  file(STRINGS ${SOURCE_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^/\"]+/")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[^\"]*\"([^/\"]+)/.*$" "\\1" target "${line}")
    list(FIND layers "${target}" other)
    math(EXPR checked "${checked} + 1")
    if(other GREATER own)
      list(APPEND violations "${file} (${folder}) includes ${target}: ${line}")
    endif()
  endforeach()
endforeach()

if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "includes from a lower layer to a higher one:\n  ${text}")
endif()
message(STATUS "layers: ${checked} includes between folders, all downward")
