# Runs Windows executables under Wine in a private prefix inside the build
# tree; ~/.wine is never touched.
find_program(PVT_WINE wine REQUIRED)
find_program(PVT_WINESERVER wineserver REQUIRED)
find_program(PVT_WINEBOOT wineboot REQUIRED)

set(PVT_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix used by tests")
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
               @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
               GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
