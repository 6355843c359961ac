# Cross build of the x86_64 test vehicle with Debian's mingw-w64, for machines that run no 32-bit
# x86 code (wine64 runs it there). Never shipped.
set(ZELM_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
