# The whole program, run as a user would: on a pseudo-terminal or with its output
# redirected, over a stand-in audio library or the real PortAudio and ALSA. program_test
# holds its behaviour; fault_test the faults from outside and the long runs. Each case runs
# its own children under a watchdog, so the cases can run in parallel.
if(DSPHOST_TESTS)
    # The program built over the stand-in for the seven PortAudio calls it makes (the
    # program's own definitions take precedence over the shared PortAudio library).
    add_executable(dsphost_fake_audio ${PROJECT_SOURCE_DIR}/app/main.cpp fake_portaudio.cpp)
    target_link_libraries(dsphost_fake_audio PRIVATE dsphost_app Threads::Threads)

    foreach(suite program_test fault_test)
        add_executable(${suite} ${suite}.cpp)
        target_link_libraries(${suite} PRIVATE dsphost_test_support GTest::gtest_main)
        target_compile_definitions(${suite} PRIVATE
            DSPHOST_BINARY="$<TARGET_FILE:dsphost>"
            DSPHOST_FAKE_AUDIO_BINARY="$<TARGET_FILE:dsphost_fake_audio>"
            DSPHOST_FAKETIME_LIBRARY="${DSPHOST_FAKETIME_LIBRARY}")
        add_dependencies(${suite} dsphost dsphost_fake_audio)
        # The long run takes a minute of real time; the watchdogs inside end a hang sooner.
        gtest_discover_tests(${suite} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 180)
    endforeach()
endif()
