# The status line: output path, print services, clock string and masked numbers.
if(DSPHOST_TESTS)
    # A fresh process for the clock and terminal tests.
    add_executable(status_probe status_probe.cpp)
    target_link_libraries(status_probe PRIVATE dsphost_console)

    add_executable(status_line_test print_test.cpp mask_test.cpp console_output_test.cpp)
    target_link_libraries(status_line_test PRIVATE dsphost_console dsphost_test_support
                                                   GTest::gtest_main)
    target_compile_definitions(status_line_test PRIVATE
        STATUS_PROBE_PATH="$<TARGET_FILE:status_probe>"
        DSPHOST_FAKETIME_LIBRARY="${DSPHOST_FAKETIME_LIBRARY}")
    add_dependencies(status_line_test status_probe)
    gtest_discover_tests(status_line_test DISCOVERY_TIMEOUT 60)
endif()

if(DSPHOST_FUZZ)
    # Coverage feedback needs the library under test instrumented too.
    target_compile_options(dsphost_console PRIVATE -fsanitize=fuzzer-no-link)
    add_executable(mask_fuzz fuzz/mask_fuzz.cpp)
    target_include_directories(mask_fuzz PRIVATE ${PROJECT_SOURCE_DIR})
    target_compile_options(mask_fuzz PRIVATE -fsanitize=fuzzer)
    target_link_libraries(mask_fuzz PRIVATE dsphost_console -fsanitize=fuzzer)
endif()
