# Cross build for the device: 32-bit Win32 binaries, what ships.
set(MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
