# Cross-compiles the Windows executables with Debian's MinGW-w64 compiler for
# 32-bit Windows (package g++-mingw-w64-i686):
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
#   cmake --build build-windows
#
# or simply ./build.sh windows.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ANIM3D_MINGW_TARGET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

# note: double arithmetic in SSE2 registers, as on x86-64. The number reader
# divides an exact mantissa by an exact power of ten and relies on that one
# operation being correctly rounded; x87 arithmetic would round to 80 bits
# first and then again to 64, and change output bytes.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
