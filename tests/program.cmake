# The whole program, run as a user would: on a pseudo-terminal or with its output
# redirected, over a stand-in audio library or the real PortAudio and ALSA.
if(DSPHOST_TESTS)
    # The program built over the stand-in for the seven PortAudio calls it makes (the
    # program's own definitions take precedence over the shared PortAudio library).
    add_executable(dsphost_fake_audio ${PROJECT_SOURCE_DIR}/app/main.cpp fake_portaudio.cpp)
    target_link_libraries(dsphost_fake_audio PRIVATE dsphost_app Threads::Threads)

    find_library(FAKETIME_LIBRARY libfaketime.so.1 PATH_SUFFIXES faketime REQUIRED)

    add_executable(program_test program_test.cpp)
    target_link_libraries(program_test PRIVATE dsphost_test_support GTest::gtest_main)
    target_compile_definitions(program_test PRIVATE
        DSPHOST_BINARY="$<TARGET_FILE:dsphost>"
        DSPHOST_FAKE_AUDIO_BINARY="$<TARGET_FILE:dsphost_fake_audio>"
        DSPHOST_FAKETIME_LIBRARY="${FAKETIME_LIBRARY}")
    add_dependencies(program_test dsphost dsphost_fake_audio)
    gtest_discover_tests(program_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endif()
