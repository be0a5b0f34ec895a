# Cross build for the device: 64-bit binaries of the same sources, for a 64-bit Wine.
set(MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
