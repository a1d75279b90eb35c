# Cross build with Debian's mingw-w64 compilers for 64-bit Windows; its tests run under Wine.
# The posix flavour is used because it has std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KORVANEL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KORVANEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVANEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVANEL_MINGW_TRIPLET}-windres)

# Libraries and headers come from the mingw-w64 sysroot only, never from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${KORVANEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
