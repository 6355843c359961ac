# The mingw-w64 cross build shared by the product (i686) and the test vehicle (x86_64): the win32
# threads flavour, since the posix one pulls in winpthreads, whose imports (GetTickCount64,
# vectored handlers) Windows 2000 and XP lack. Set ZELM_MINGW_PROCESSOR before including it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${ZELM_MINGW_PROCESSOR})
set(triplet ${ZELM_MINGW_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${triplet}-gcc-win32)
set(CMAKE_CXX_COMPILER ${triplet}-g++-win32)
set(CMAKE_RC_COMPILER ${triplet}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
