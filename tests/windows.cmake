# The Windows build in ANIM3D_WINDOWS_BUILD: its executables' format, and the
# end-to-end tests once more with its executables run under Wine ("wine."
# before their names), in a Wine prefix of this build tree.
find_program(WINE_COMMAND wine REQUIRED)
find_program(MINGW_OBJDUMP i686-w64-mingw32-objdump REQUIRED)
set(wine_prefix "${CMAKE_BINARY_DIR}/wineprefix")

# Wine runs Windows programs for i386 only where the kernel runs 32-bit x86
# programs; where it cannot, the Wine variants are skipped with the reason.
execute_process(COMMAND "${WINE_COMMAND}" --version
  RESULT_VARIABLE wine_status OUTPUT_QUIET ERROR_VARIABLE wine_error)
set(wine_unusable "")
if(NOT wine_status EQUAL 0)
  string(STRIP "${wine_error}" wine_error)
  string(REPLACE "\"" "'" wine_error "${wine_error}")
  set(wine_unusable "'wine --version' failed (${wine_error})")
  if(wine_error MATCHES "Exec format error")
    set(wine_unusable "this kernel cannot run 32-bit x86 programs, the loader of wine32 among them (${wine_error})")
  endif()
  message(WARNING "The Wine variants of the tests will be skipped: ${wine_unusable}")
endif()

target_compile_definitions(test_run PRIVATE
  WINDOWS_BUILD_DIR="${ANIM3D_WINDOWS_BUILD}"
  WINE_COMMAND="${WINE_COMMAND}"
  WINE_PREFIX="${wine_prefix}"
  WINE_UNUSABLE="${wine_unusable}")

add_executable(windows_tests windows_test.cpp)
target_link_libraries(windows_tests PRIVATE test_run GTest::gtest_main)
target_compile_definitions(windows_tests PRIVATE
  FRAMECONV_PROGRAM="$<TARGET_FILE:frameconv>"
  EXAMPLE_DIR="${PROJECT_SOURCE_DIR}/examples/twisting-box"
  MINGW_OBJDUMP="${MINGW_OBJDUMP}")
add_dependencies(windows_tests frameconv)
gtest_discover_tests(windows_tests TEST_FILTER "WindowsExecutables.*")

# The prefix is made once, before the first Wine run, and its wineserver ended
# after the last.
set(wine_fixture "")
if(NOT wine_unusable)
  add_test(NAME wine.prefix COMMAND sh "${CMAKE_CURRENT_SOURCE_DIR}/wine_prefix.sh" create "${wine_prefix}")
  add_test(NAME wine.stop COMMAND sh "${CMAKE_CURRENT_SOURCE_DIR}/wine_prefix.sh" stop "${wine_prefix}")
  set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 900)
  set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)
  set(wine_fixture FIXTURES_REQUIRED wine)
endif()

foreach(target frameconv_e2e_tests windows_tests)
  set(filter "*")
  if(target STREQUAL windows_tests)
    set(filter "WindowsRuns.*")
  endif()
  gtest_discover_tests(${target} TEST_PREFIX "wine." TEST_FILTER "${filter}"
    PROPERTIES ENVIRONMENT ANIM3D_TEST_WINDOWS_BUILD=1 TIMEOUT 900 ${wine_fixture}
    SKIP_REGULAR_EXPRESSION "Wine cannot run on this machine")
endforeach()
