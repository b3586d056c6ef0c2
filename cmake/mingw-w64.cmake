# What both Windows toolchains share: Debian's MinGW-w64 compilers for the
# target ANIM3D_MINGW_TARGET (i686-w64-mingw32, x86_64-w64-mingw32), and a
# search for libraries and headers in that target's tree alone.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ANIM3D_MINGW_TARGET}-gcc)
set(CMAKE_CXX_COMPILER ${ANIM3D_MINGW_TARGET}-g++)
set(CMAKE_RC_COMPILER ${ANIM3D_MINGW_TARGET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ANIM3D_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
