# Cross-compiles the same programs for 64-bit Windows with Debian's MinGW-w64
# compiler (package g++-mingw-w64-x86-64). The programs users get are the
# 32-bit ones (mingw-w64-i686.cmake); this build exists so that the test suite
# can run the Windows code under a 64-bit Wine on machines that cannot run
# 32-bit programs at all:
#
#   cmake -S . -B build-windows64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#   cmake --build build-windows64
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ANIM3D_MINGW_TARGET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

# note: double arithmetic in SSE2 registers, as in the 32-bit build (see
# there why the output bytes depend on it). It is x86-64's default; said here
# so that both builds visibly agree.
set(CMAKE_C_FLAGS_INIT "-mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-mfpmath=sse")
