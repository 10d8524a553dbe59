# The same commit gives the same bytes in any build folder: the linker
# writes no time stamp into the PE header or the export directory, and the
# compiler writes the source and build folders as "." and "build" wherever it
# records a file name (__FILE__, debug information). widl's time stamps are
# fixed where it runs (Widl.cmake), the ZIP's entries where cpack makes it
# (Package.cmake). scripts/repro-check.sh builds the module a second time in
# another folder and compares.
include_guard(GLOBAL)

add_link_options(LINKER:--no-insert-timestamp)
# GCC prefers the map given last, so the build folder inside the source tree
# is mapped before the source tree is.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.
                    -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
