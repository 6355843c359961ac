# Cross build of the product, ZelmSoundUpdate.exe for 32-bit Windows, with Debian's mingw-w64.
set(ZELM_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
