# Faults from outside against the real program on a pseudo-terminal: hostile keyboard input,
# a burst of keys, output that cannot be written, signals, missing or exhausted audio devices,
# a fast clock and a long run. Each case runs its own children under a watchdog, so the cases
# can run in parallel.
if(DSPHOST_TESTS)
    find_library(FAULT_FAKETIME_LIBRARY libfaketime.so.1 PATH_SUFFIXES faketime REQUIRED)

    add_executable(fault_test fault_test.cpp)
    target_link_libraries(fault_test PRIVATE dsphost_test_support GTest::gtest_main)
    target_compile_definitions(fault_test PRIVATE
        DSPHOST_BINARY="$<TARGET_FILE:dsphost>"
        DSPHOST_FAKE_AUDIO_BINARY="$<TARGET_FILE:dsphost_fake_audio>"
        DSPHOST_FAKETIME_LIBRARY="${FAULT_FAKETIME_LIBRARY}"
        DSPHOST_PULSE_TSAN_SUPPRESSIONS="${CMAKE_CURRENT_SOURCE_DIR}/pulse.tsan.supp")
    add_dependencies(fault_test dsphost dsphost_fake_audio)
    # The long run takes a minute of real time; the watchdogs inside end a hang sooner.
    gtest_discover_tests(fault_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 180)
endif()
