# The Windows build, cross-compiled with cmake/mingw-w64-x86_64.cmake and
# tested under wine. Until the wave, filter and app rooms call the system
# room instead of POSIX, it holds the system and console rooms and the
# sources of the wave room that are portable already, with the tests of
# those sources: one test program per room, each run by ctest as one test,
# because every wine process costs a start.

add_subdirectory(system)
add_subdirectory(console)

# Sources of the wave room that build for Windows as they stand.
add_library(ostrivale_wave_portable STATIC
  wave/dither_stream.cpp wave/file_name.cpp wave/output_header.cpp wave/vector_level.cpp)
target_link_libraries(ostrivale_wave_portable PUBLIC ostrivale_console)

# The console room on its own (tools/console_demo.cpp), for the run in a
# tmux pane under wine below.
add_executable(console_demo tools/console_demo.cpp)
target_link_libraries(console_demo PRIVATE ostrivale_console)

# A console program that draws a few coloured cells through the console
# binding and shows the keys it reads: to see under wine (or Windows) what the
# binding gets through. Esc ends it.
add_executable(windows_console_demo tools/windows_console_demo.cpp)
target_link_libraries(windows_console_demo PRIVATE ostrivale_system)

if(NOT OSTRIVALE_BUILD_TESTS)
  return()
endif()

# GoogleTest built for the target from Debian's sources (package googletest):
# the libgtest-dev libraries are Linux ones.
set(OSTRIVALE_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH
    "GoogleTest sources to build for the target")
if(NOT EXISTS ${OSTRIVALE_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${OSTRIVALE_GOOGLETEST_SOURCE}: "
                      "install the Debian package googletest")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
# GoogleTest is built with its own warning flags, not the project's.
get_directory_property(OSTRIVALE_OWN_OPTIONS COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
add_subdirectory(${OSTRIVALE_GOOGLETEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${OSTRIVALE_OWN_OPTIONS}")

enable_testing()

# Every test runs in the one wine prefix of this build folder. The fixture
# starts its wine server for the whole run and keeps it between the tests (a
# program started against a running server takes a fraction of the time of a
# cold start; one that runs already is used as it is), and brings the prefix
# up to date first, so that no test pays for that; the cleanup stops the
# server. Should the cleanup never run (an interrupted ctest), the server ends
# by itself 30 s after the last test. Nothing wine leaves running may hold
# ctest's output open, so its output goes nowhere.
find_program(OSTRIVALE_WINESERVER wineserver REQUIRED)
set(OSTRIVALE_WINE_ENVIRONMENT WINEDEBUG=-all WINEPREFIX=${PROJECT_BINARY_DIR}/wine-prefix)
add_test(NAME wine_start COMMAND ${CMAKE_COMMAND} -E env ${OSTRIVALE_WINE_ENVIRONMENT}
         sh -c "mkdir -p \"$WINEPREFIX\" && { ${OSTRIVALE_WINESERVER} -p30 </dev/null >/dev/null 2>&1; \
                ${OSTRIVALE_WINE} wineboot --init </dev/null >/dev/null 2>&1; }")
add_test(NAME wine_stop COMMAND ${CMAKE_COMMAND} -E env ${OSTRIVALE_WINE_ENVIRONMENT}
         ${OSTRIVALE_WINESERVER} -k)
set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 120)
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)

function(ostrivale_windows_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE gtest gtest_main)
  # CTest puts the wine emulator of the toolchain file in front.
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 600)
endfunction()

file(GLOB OSTRIVALE_SYSTEM_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/system/*.cpp)
ostrivale_windows_test(system_tests ${OSTRIVALE_SYSTEM_TESTS})
target_link_libraries(system_tests PRIVATE ostrivale_system)

# The console room's tests but the one that forks processes on POSIX
# pseudo-terminals.
file(GLOB OSTRIVALE_CONSOLE_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/console/*_test.cpp)
list(REMOVE_ITEM OSTRIVALE_CONSOLE_TESTS ${PROJECT_SOURCE_DIR}/tests/console/console_process_test.cpp)
ostrivale_windows_test(console_tests ${OSTRIVALE_CONSOLE_TESTS})
target_link_libraries(console_tests PRIVATE ostrivale_console)

# The real console room in a real console: console_demo.exe under wine in a
# tmux pane, read back cell by cell with its colours. Skipped without tmux.
add_test(NAME console_in_tmux
         COMMAND ${CMAKE_COMMAND} -E env ${OSTRIVALE_WINE_ENVIRONMENT}
                 bash ${PROJECT_SOURCE_DIR}/tests/console/console_in_tmux.sh
                 ${OSTRIVALE_WINE} $<TARGET_FILE:console_demo>)
set_tests_properties(console_in_tmux PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300 SKIP_RETURN_CODE 77)
# Its plain mode over pipes: the same bytes as the Linux program's.
add_test(NAME console_plain
         COMMAND ${CMAKE_COMMAND} -E env ${OSTRIVALE_WINE_ENVIRONMENT}
                 bash ${PROJECT_SOURCE_DIR}/tests/console/console_plain.sh
                 ${OSTRIVALE_WINE} $<TARGET_FILE:console_demo>)
set_tests_properties(console_plain PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300)

ostrivale_windows_test(wave_tests tests/wave/file_name_test.cpp)
target_link_libraries(wave_tests PRIVATE ostrivale_wave_portable)
