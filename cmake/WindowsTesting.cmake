# The tests of the Windows build, cross-compiled with
# cmake/mingw-w64-x86_64.cmake and run under wine (the toolchain file's
# CMAKE_CROSSCOMPILING_EMULATOR), from tests/CMakeLists.txt. Each test program
# is one ctest entry, because every wine process costs a start.

# GoogleTest built for the target from Debian's sources (package googletest):
# the libgtest-dev libraries are Linux ones. The tests use no GoogleMock.
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
set(OSTRIVALE_GTEST_LIBRARIES gtest gtest_main)

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

# One test program as one ctest entry, run under wine.
function(ostrivale_wine_test name)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 600)
endfunction()

# The Linux program that ostrivale.exe is held against, byte for byte: the
# one of the Linux build beside this one (tools/windows_tests.sh builds it).
set(OSTRIVALE_LINUX_PROGRAM ${PROJECT_SOURCE_DIR}/build/ostrivale CACHE FILEPATH
    "The Linux program whose output ostrivale.exe must match")

# ostrivale.exe as a program under wine: whole jobs in plain mode against the
# Linux program, a job killed in its pass, and the dialogue in a terminal
# (tmux).
function(ostrivale_wine_program_tests)
  ostrivale_program_test(JobsAlike ${PROJECT_SOURCE_DIR}/tests/app/jobs_alike.sh
                         $<TARGET_FILE:ostrivale> -- ${OSTRIVALE_LINUX_PROGRAM})
  ostrivale_program_test(KilledJob ${PROJECT_SOURCE_DIR}/tests/app/killed_job.sh $<TARGET_FILE:ostrivale>)
  ostrivale_program_test(JobInTmux ${PROJECT_SOURCE_DIR}/tests/app/job_in_tmux.sh
                         $<TARGET_FILE:ostrivale>)
endfunction()
