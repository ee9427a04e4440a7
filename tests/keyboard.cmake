# Keyboard polling: the terminal decoder, the key queue and translation, the terminal's modes
# on a real pseudo-terminal, and the decoder's fuzz target.
if(DSPHOST_TESTS)
    add_executable(key_decoder_test key_decoder_test.cpp)
    target_link_libraries(key_decoder_test PRIVATE dsphost_console GTest::gtest_main)
    gtest_discover_tests(key_decoder_test DISCOVERY_TIMEOUT 60)

    add_executable(keyboard_test keyboard_test.cpp)
    target_link_libraries(keyboard_test PRIVATE dsphost_console GTest::gtest Threads::Threads)
    gtest_discover_tests(keyboard_test DISCOVERY_TIMEOUT 60)

    # Polls keys like the main routine; the terminal tests run it on a pseudo-terminal.
    add_executable(terminal_driver terminal_driver.cpp)
    target_link_libraries(terminal_driver PRIVATE dsphost_console)

    add_executable(terminal_test terminal_test.cpp)
    target_link_libraries(terminal_test PRIVATE dsphost_console dsphost_test_support)
    target_compile_definitions(terminal_test PRIVATE
        TERMINAL_DRIVER="$<TARGET_FILE:terminal_driver>")
    add_dependencies(terminal_test terminal_driver)
    gtest_discover_tests(terminal_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endif()

if(DSPHOST_FUZZ)
    # The decoder is compiled into the target so that libFuzzer sees its coverage.
    add_executable(key_decoder_fuzz fuzz/key_decoder_fuzz.cpp ${PROJECT_SOURCE_DIR}/console/key_decoder.cpp)
    target_include_directories(key_decoder_fuzz PRIVATE ${PROJECT_SOURCE_DIR})
    target_compile_options(key_decoder_fuzz PRIVATE -fsanitize=fuzzer)
    target_link_options(key_decoder_fuzz PRIVATE -fsanitize=fuzzer)
endif()
