# The Windows builds. ANIM3D_WINDOWS_DIR holds the 32-bit programs users get
# (cmake/mingw-w64-i686.cmake), ANIM3D_WINDOWS64_DIR the same sources built for
# 64-bit Windows (cmake/mingw-w64-x86_64.cmake). The format of both builds'
# executables is checked. The end-to-end tests run once more against the
# 64-bit executables under a 64-bit Wine ("wine." before the test names), in a
# Wine prefix of this build tree: the 32-bit Wine loader is itself a 32-bit
# program, which the machines the tests are made for cannot run.
find_program(MINGW32_OBJDUMP i686-w64-mingw32-objdump REQUIRED)
find_program(MINGW64_OBJDUMP x86_64-w64-mingw32-objdump REQUIRED)

add_executable(windows_tests windows_test.cpp)
target_link_libraries(windows_tests PRIVATE GTest::gtest_main)
target_compile_definitions(windows_tests PRIVATE
  WINDOWS_DIR="${ANIM3D_WINDOWS_DIR}"
  WINDOWS64_DIR="${ANIM3D_WINDOWS64_DIR}"
  MINGW32_OBJDUMP="${MINGW32_OBJDUMP}"
  MINGW64_OBJDUMP="${MINGW64_OBJDUMP}")
gtest_discover_tests(windows_tests)

if(NOT ANIM3D_WINDOWS64_DIR)
  return()
endif()

# Debian keeps the 64-bit loader and server out of PATH, in /usr/lib/wine.
find_program(ANIM3D_WINE NAMES wine64 wine PATHS /usr/lib/wine REQUIRED)
find_program(ANIM3D_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine REQUIRED)
set(wine_prefix "${CMAKE_BINARY_DIR}/wineprefix")

# The prefix is made once, before the first Wine run, with a wineserver kept
# for the runs; the server is ended after the last.
set(wine_prefix_script "${CMAKE_CURRENT_SOURCE_DIR}/wine_prefix.sh")
add_test(NAME wine.prefix
  COMMAND sh "${wine_prefix_script}" create "${wine_prefix}" "${ANIM3D_WINE}" "${ANIM3D_WINESERVER}")
add_test(NAME wine.stop
  COMMAND sh "${wine_prefix_script}" stop "${wine_prefix}" "${ANIM3D_WINE}" "${ANIM3D_WINESERVER}")
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 600)
set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)

add_executable(windows_runs_tests windows_runs_test.cpp)
target_link_libraries(windows_runs_tests PRIVATE test_run GTest::gtest_main)
target_compile_definitions(windows_runs_tests PRIVATE
  FRAMECONV_PROGRAM="$<TARGET_FILE:frameconv>"
  EXAMPLE_DIR="${PROJECT_SOURCE_DIR}/examples/twisting-box")
add_dependencies(windows_runs_tests frameconv)

# How the tests find the Windows programs and run them (tests/run.h). These
# tests are listed from the sources when configuring, not discovered after
# the build: a discovered test cannot be given a list of variables here.
set(wine_environment
  "ANIM3D_WINE=${ANIM3D_WINE}"
  "WINEPREFIX=${wine_prefix}"
  "ANIM3D_FRAMECONV=${ANIM3D_WINDOWS64_DIR}/frameconv.exe"
  "ANIM3D_CLIPMERGE=${ANIM3D_WINDOWS64_DIR}/clipmerge.exe"
  "ANIM3D_HOLD_OPEN=${ANIM3D_WINDOWS64_DIR}/hold_open.exe")
foreach(target frameconv_e2e_tests clipmerge_e2e_tests windows_runs_tests)
  gtest_add_tests(TARGET ${target} TEST_PREFIX "wine." TEST_LIST wine_tests)
  set_tests_properties(${wine_tests} PROPERTIES
    ENVIRONMENT "${wine_environment}" FIXTURES_REQUIRED wine TIMEOUT 600
    SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
endforeach()
