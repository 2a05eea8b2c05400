# Test programs. Portable tests (tests/host) build on both targets: natively
# under the sanitizers, and for Windows where they run under Wine together
# with the Windows-only tests (tests/win).
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${OSTREL_GTEST_SOURCE}/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB OSTREL_HOST_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/host/*.cpp)
set(OSTREL_TEST_SUPPORT ${CMAKE_SOURCE_DIR}/tests/support)

if(OSTREL_TARGET STREQUAL "host")
  add_executable(host_tests ${OSTREL_HOST_TESTS})
  target_compile_options(host_tests PRIVATE ${OSTREL_WARNINGS})
  target_include_directories(host_tests PRIVATE ${OSTREL_TEST_SUPPORT})
  target_compile_definitions(host_tests PRIVATE OSTREL_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data")
  target_link_libraries(host_tests PRIVATE ostrel gtest_main)
  add_test(NAME host_tests COMMAND host_tests --gtest_brief=1)
  # Every include in src/ runs down the layers.
  add_test(NAME layers COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/check-layers ${CMAKE_SOURCE_DIR}/src)
  set_tests_properties(host_tests PROPERTIES ENVIRONMENT
    "OSTREL_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data;ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1;UBSAN_OPTIONS=print_stacktrace=1")

  if(OSTREL_SANITIZER STREQUAL "thread")
    set_tests_properties(host_tests PROPERTIES ENVIRONMENT
      "OSTREL_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data;TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1")
    return()  # the fuzzers run in the ASan build
  endif()

  # libFuzzer targets: each runs for a bounded time and must end cleanly.
  set(OSTREL_FUZZ_SECONDS 30 CACHE STRING "Seconds each fuzz target runs in the test suite")
  # The library is built without coverage marks, so the sources a target
  # fuzzes are compiled into it again, with them: libFuzzer then sees which
  # branches an input reaches (the target's own copies win over the library's).
  set(OSTREL_FUZZ_SOURCES_block_map_fuzz
      src/delta/block_map.cpp src/delta/block_sums.cpp src/delta/patch_plan.cpp src/delta/patch_apply.cpp)
  set(OSTREL_FUZZ_SOURCES_http_url_fuzz src/net/http_url.cpp src/net/http_download_plan.cpp)
  set(OSTREL_FUZZ_SOURCES_manifest_fuzz
      src/data/json.cpp src/data/json_number.cpp src/data/manifest.cpp src/data/manifest_writer.cpp)
  set(OSTREL_FUZZ_SOURCES_pe_version_fuzz src/publish/pe_version.cpp)
  set(OSTREL_FUZZ_SOURCES_record_fuzz src/update/verified_record.cpp)
  set(OSTREL_FUZZ_SOURCES_part_record_fuzz src/update/part_record.cpp src/update/piece_plan.cpp)
  set(OSTREL_FUZZ_SOURCES_zip_fuzz src/archive/zip_reader.cpp src/archive/inflate.cpp src/archive/zip_entry_path.cpp)
  # The version-block reader is a few straight-line checks: seconds reach all of it.
  set(OSTREL_FUZZ_SECONDS_pe_version_fuzz 10)
  # Block maps: a fixed header and a count, then the matching over what read.
  set(OSTREL_FUZZ_SECONDS_block_map_fuzz 20)
  # A few lines of text: seconds reach all of the part record's reader.
  set(OSTREL_FUZZ_SECONDS_part_record_fuzz 10)
  file(GLOB OSTREL_FUZZERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp)
  foreach(src ${OSTREL_FUZZERS})
    get_filename_component(name ${src} NAME_WE)
    list(TRANSFORM OSTREL_FUZZ_SOURCES_${name} PREPEND ${CMAKE_SOURCE_DIR}/ OUTPUT_VARIABLE fuzzed)
    add_executable(${name} ${src} ${fuzzed})
    target_compile_options(${name} PRIVATE ${OSTREL_WARNINGS} -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ostrel)
    set(corpus ${CMAKE_BINARY_DIR}/fuzz-corpus/${name})
    file(MAKE_DIRECTORY ${corpus})
    set(seconds ${OSTREL_FUZZ_SECONDS})
    if(DEFINED OSTREL_FUZZ_SECONDS_${name} AND OSTREL_FUZZ_SECONDS_${name} LESS seconds)
      set(seconds ${OSTREL_FUZZ_SECONDS_${name}})
    endif()
    add_test(NAME ${name}
      COMMAND ${name} -max_total_time=${seconds} -timeout=10 -rss_limit_mb=2048
              -print_final_stats=1 ${corpus} ${CMAKE_SOURCE_DIR}/tests/fuzz/corpus/${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300 LABELS fuzz)
  endforeach()
endif()

if(OSTREL_TARGET STREQUAL "windows")
  file(GLOB OSTREL_WIN_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/*.cpp)
  add_executable(win_tests ${OSTREL_HOST_TESTS} ${OSTREL_WIN_TESTS})
  target_compile_options(win_tests PRIVATE ${OSTREL_WARNINGS})
  target_include_directories(win_tests PRIVATE ${OSTREL_TEST_SUPPORT})
  target_compile_definitions(win_tests PRIVATE OSTREL_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data")
  target_link_libraries(win_tests PRIVATE ostrel gtest_main)

  # Launcher builds with other build settings for the tests, each in a folder
  # of its own under the same program name. Only the update server's settings
  # and the launcher's version (src/net/update_server.cpp) and the resources
  # (launcher.rc: the version block) are compiled again, against a build-config
  # header with the given settings (NAME VALUE pairs); everything else is the
  # same library. The executable's own copy of that file defines every symbol
  # the file has, so the library's is never linked (OstrelLauncherNewer below,
  # for the self-update test, is one at another version).
  function(ostrel_test_launcher target dir)
    while(ARGN)
      list(POP_FRONT ARGN name value)
      set(${name} "${value}")
    endwhile()
    ostrel_launcher_version("${OSTREL_LAUNCHER_VERSION}")
    file(MAKE_DIRECTORY ${dir}/generated)
    configure_file(${CMAKE_SOURCE_DIR}/src/build_config.h.in ${dir}/generated/build_config.h @ONLY)
    add_executable(${target} WIN32 ${CMAKE_SOURCE_DIR}/src/main/winmain_win.cpp
                   ${CMAKE_SOURCE_DIR}/src/main/resources/launcher.rc ${CMAKE_SOURCE_DIR}/src/net/update_server.cpp)
    target_include_directories(${target} BEFORE PRIVATE ${dir}/generated)
    target_compile_options(${target} PRIVATE ${OSTREL_WARNINGS})
    target_link_options(${target} PRIVATE ${OSTREL_UNICODE_ENTRY})
    target_link_libraries(${target} PRIVATE ostrel)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME OstrelLauncher RUNTIME_OUTPUT_DIRECTORY ${dir})
  endfunction()

  # With a realm key, for the signed-update tests. The key pair is made here by
  # openssl and lives in the build folder only, never in the sources.
  set(OSTREL_TEST_KEY_DIR ${CMAKE_BINARY_DIR}/test-key)
  set(key ${OSTREL_TEST_KEY_DIR}/realm-test-key.pem)
  file(MAKE_DIRECTORY ${OSTREL_TEST_KEY_DIR})
  if(NOT EXISTS ${key})
    execute_process(COMMAND openssl ecparam -name prime256v1 -genkey -noout -out ${key} COMMAND_ERROR_IS_FATAL ANY)
  endif()
  execute_process(COMMAND openssl ec -in ${key} -pubout -outform DER -out ${key}.pub.der
                  ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(READ ${key}.pub.der public_der HEX)
  string(SUBSTRING "${public_der}" 54 128 test_public_key)  # X, Y after the 27-byte header
  ostrel_test_launcher(OstrelLauncherTestKey ${OSTREL_TEST_KEY_DIR} OSTREL_UPDATE_PUBLIC_KEY ${test_public_key})
  # Over TLS to "localhost" (Wine matches no IP address in a certificate), for
  # the https tests; the tests make the certificates.
  ostrel_test_launcher(OstrelLauncherTestHttps ${CMAKE_BINARY_DIR}/test-https
                       OSTREL_UPDATE_SCHEME https OSTREL_UPDATE_HOST localhost)
  # A newer build, which the self-update test and scripts/run --newer-launcher
  # offer: one above exits_at_once's 1.0.1, the build that fails to start.
  ostrel_test_launcher(OstrelLauncherNewer ${CMAKE_BINARY_DIR}/test-newer OSTREL_LAUNCHER_VERSION 1.0.2)

  # Stand-ins for the programs the launcher starts (Wow.exe, UnRAR.exe; also
  # the demo client's Wow.exe), a launcher build that exits at once (version
  # block 1.0.1), and the launcher's window with scripted folder pickers for
  # the end-to-end tests.
  add_executable(stand_in WIN32 ${CMAKE_SOURCE_DIR}/tests/win/helpers/stand_in.cpp)
  add_executable(exits_at_once WIN32 ${CMAKE_SOURCE_DIR}/tests/win/helpers/exits_at_once.cpp
                 ${CMAKE_SOURCE_DIR}/tests/win/helpers/exits_at_once.rc)
  # Adds a test CA to the Wine prefix's machine Root store (never the host's).
  add_executable(trust_test_ca ${CMAKE_SOURCE_DIR}/tests/win/helpers/trust_test_ca.cpp)
  target_link_libraries(trust_test_ca PRIVATE crypt32)
  add_executable(launcher_host WIN32 ${CMAKE_SOURCE_DIR}/tests/win/helpers/launcher_host.cpp
                 ${CMAKE_SOURCE_DIR}/src/main/resources/launcher.rc)
  target_link_libraries(launcher_host PRIVATE ostrel)
  foreach(helper stand_in exits_at_once launcher_host trust_test_ca)
    target_compile_options(${helper} PRIVATE ${OSTREL_WARNINGS})
    target_link_options(${helper} PRIVATE ${OSTREL_UNICODE_ENTRY})
  endforeach()

  # Every Wine test shares the build's private prefix; the lock keeps them
  # apart so one test's wineserver shutdown never cuts another short.
  set(OSTREL_WINE_RUN ${Python3_EXECUTABLE} ${OSTREL_TEST_SUPPORT}/wine_env.py)
  add_test(NAME win_tests
    COMMAND ${OSTREL_WINE_RUN} run --build ${CMAKE_BINARY_DIR} --with-server -- $<TARGET_FILE:win_tests> --gtest_brief=1)
  set_tests_properties(win_tests PROPERTIES RESOURCE_LOCK wine TIMEOUT 900
    ENVIRONMENT "OSTREL_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data;OSTREL_TEST_SUPPORT=${OSTREL_TEST_SUPPORT}")

  file(GLOB OSTREL_E2E_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/test_*.py)
  foreach(py ${OSTREL_E2E_TESTS})
    get_filename_component(name ${py} NAME_WE)
    add_test(NAME e2e_${name} COMMAND ${Python3_EXECUTABLE} ${py})
    set_tests_properties(e2e_${name} PROPERTIES RESOURCE_LOCK wine TIMEOUT 600
      ENVIRONMENT "PYTHONPATH=${OSTREL_TEST_SUPPORT};OSTREL_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data;OSTREL_BUILD_DIR=${CMAKE_BINARY_DIR}")
  endforeach()
endif()
