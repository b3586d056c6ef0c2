# The Windows builds. ANIM3D_WINDOWS_DIR holds the 32-bit programs users get
# (cmake/mingw-w64-i686.cmake), ANIM3D_WINDOWS64_DIR the same sources built for
# 64-bit Windows (cmake/mingw-w64-x86_64.cmake). The format of both builds'
# executables is checked. The end-to-end tests run once more against the
# 64-bit executables under a 64-bit Wine ("wine." before the test names), in a
# Wine prefix of this build tree, and with ANIM3D_WINE32_TESTS against the
# 32-bit ones under a 32-bit Wine ("wine32."), in a prefix of its own. The
# 32-bit Wine loader is itself a 32-bit program, which some machines cannot
# run at all; build.sh finds out before it turns these on.
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

if(ANIM3D_WINDOWS64_DIR OR (ANIM3D_WINE32_TESTS AND ANIM3D_WINDOWS_DIR))
  add_executable(windows_runs_tests windows_runs_test.cpp)
  target_link_libraries(windows_runs_tests PRIVATE test_run GTest::gtest_main)
  target_compile_definitions(windows_runs_tests PRIVATE
    FRAMECONV_PROGRAM="$<TARGET_FILE:frameconv>"
    EXAMPLE_DIR="${PROJECT_SOURCE_DIR}/examples/twisting-box")
  add_dependencies(windows_runs_tests frameconv)
endif()

# wine_suite(NAME WINE WINESERVER WINDOWS_DIR): the end-to-end tests run
# against the executables in WINDOWS_DIR under the Wine loader WINE, as
# "NAME.<test>", in the prefix NAME-prefix of this build tree. The prefix is
# made once, before the first run, with a wineserver kept for the runs; the
# server is ended after the last. Extra arguments are variables the prefix is
# made with.
function(wine_suite name wine wineserver windows_dir)
  set(prefix "${CMAKE_BINARY_DIR}/${name}prefix")
  set(script "${CMAKE_CURRENT_SOURCE_DIR}/wine_prefix.sh")
  add_test(NAME ${name}.prefix COMMAND sh "${script}" create "${prefix}" "${wine}" "${wineserver}")
  add_test(NAME ${name}.stop COMMAND sh "${script}" stop "${prefix}" "${wine}" "${wineserver}")
  set_tests_properties(${name}.prefix PROPERTIES FIXTURES_SETUP ${name} TIMEOUT 600)
  if(ARGN)
    set_tests_properties(${name}.prefix PROPERTIES ENVIRONMENT "${ARGN}")
  endif()
  set_tests_properties(${name}.stop PROPERTIES FIXTURES_CLEANUP ${name})

  # How the tests find the Windows programs and run them (tests/run.h). These
  # tests are listed from the sources when configuring, not discovered after
  # the build: a discovered test cannot be given a list of variables here.
  set(environment
    "ANIM3D_WINE=${wine}"
    "WINEPREFIX=${prefix}"
    "ANIM3D_FRAMECONV=${windows_dir}/frameconv.exe"
    "ANIM3D_CLIPMERGE=${windows_dir}/clipmerge.exe"
    "ANIM3D_INSPECT3D=${windows_dir}/inspect3d.exe"
    "ANIM3D_FRAMECONV_FAULTS=${windows_dir}/frameconv_faults.exe"
    "ANIM3D_CLIPMERGE_FAULTS=${windows_dir}/clipmerge_faults.exe"
    "ANIM3D_HOLD_OPEN=${windows_dir}/hold_open.exe"
    "ANIM3D_HAND_LOCK=${windows_dir}/hand_lock.exe")
  foreach(target frameconv_e2e_tests clipmerge_e2e_tests inspect3d_e2e_tests inspect3d_gltf_tests
                 preview_e2e_tests safe_files_e2e_tests windows_runs_tests)
    gtest_add_tests(TARGET ${target} TEST_PREFIX "${name}." TEST_LIST tests)
    set_tests_properties(${tests} PROPERTIES
      ENVIRONMENT "${environment}" FIXTURES_REQUIRED ${name} TIMEOUT 600
      SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
  endforeach()
endfunction()

# Debian keeps the Wine loaders and servers out of PATH, in /usr/lib/wine:
# wine64 and wineserver64 of the package wine64, wine and wineserver32 of the
# i386 package wine32.
if(ANIM3D_WINDOWS64_DIR)
  find_program(ANIM3D_WINE NAMES wine64 wine PATHS /usr/lib/wine REQUIRED)
  find_program(ANIM3D_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine REQUIRED)
  wine_suite(wine "${ANIM3D_WINE}" "${ANIM3D_WINESERVER}" "${ANIM3D_WINDOWS64_DIR}")
endif()
if(ANIM3D_WINE32_TESTS AND ANIM3D_WINDOWS_DIR)
  find_program(ANIM3D_WINE32 NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH REQUIRED)
  find_program(ANIM3D_WINESERVER32 NAMES wineserver32 wineserver PATHS /usr/lib/wine NO_DEFAULT_PATH REQUIRED)
  wine_suite(wine32 "${ANIM3D_WINE32}" "${ANIM3D_WINESERVER32}" "${ANIM3D_WINDOWS_DIR}" WINEARCH=win32)
endif()
