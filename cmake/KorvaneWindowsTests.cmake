# The unit and integration tests of the Windows build, run by ctest through
# wine (CMAKE_CROSSCOMPILING_EMULATOR). Only the tests whose layers build for
# Windows so far are here; the rest wait for their side of the seam.

# GoogleTest from Debian's source package, built with the cross compiler
# (its own CMake names the GTest:: targets).
find_package(GTest QUIET)
if(NOT GTest_FOUND)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()
include(GoogleTest)

# The shared helpers of tests/support (child_process.cpp: the portable ones),
# with what they need of POSIX.
add_library(korvane_test_win32 STATIC ${PROJECT_SOURCE_DIR}/tests/win32/posix_compat.cpp
                                      ${PROJECT_SOURCE_DIR}/tests/support/child_process.cpp)
target_compile_options(korvane_test_win32 PUBLIC
                       -include ${PROJECT_SOURCE_DIR}/tests/win32/posix_compat.hpp)
target_include_directories(korvane_test_win32 PUBLIC ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(korvane_test_win32 PUBLIC KORVANE_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
target_link_libraries(korvane_test_win32 PUBLIC korvane_frontend GTest::gmock)
korvane_warnings(korvane_test_win32)

# Left out so far, each for one reason:
#   device_responder_test    devsim/ is not built yet (a socket and temp file of its own)
#   firmware_queue_test      truncate() and /proc/version have no Windows form (MD5 too)
set(KORVANE_WINDOWS_UNIT_TESTS
    command_text_test
    frontend_text_test
    protocol_test
    wake_event_test)
# Left out so far: cli_test, devsim_process_test (cli/ and devsim/ are not
# built yet), download_job_test and udp_endpoint_test (tests/support's
# loopback socket and simulated device are POSIX).
set(KORVANE_WINDOWS_INTEGRATION_TESTS
    child_process_runner_test)

# korvane_windows_tests(DIR LABEL NAME...): tests/DIR/NAME.cpp each become
# DIR_NAME, whose TESTs ctest lists as DIR.Suite.Case with the label.
function(korvane_windows_tests dir label)
  foreach(name ${ARGN})
    set(target ${dir}_${name})
    add_executable(${target} ${PROJECT_SOURCE_DIR}/tests/${dir}/${name}.cpp)
    target_link_libraries(${target} PRIVATE korvane_test_win32 GTest::gmock_main)
    korvane_warnings(${target})
    gtest_discover_tests(${target}
      DISCOVERY_MODE PRE_TEST
      TEST_PREFIX "${dir}."
      PROPERTIES LABELS ${label} TIMEOUT 120)
  endforeach()
endfunction()
korvane_windows_tests(unit unit ${KORVANE_WINDOWS_UNIT_TESTS})
korvane_windows_tests(integration integration ${KORVANE_WINDOWS_INTEGRATION_TESTS})

# protocol_test prints ntohl() with "%08x": ntohl gives u_long on Windows, the
# same 32 bits, but the format check wants unsigned int. Until the test casts.
target_compile_options(unit_protocol_test PRIVATE -Wno-format)
