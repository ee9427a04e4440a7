if(DSPHOST_TESTS)
    add_executable(sample_callback_test sample_callback_test.cpp)
    target_link_libraries(sample_callback_test PRIVATE dsphost_audio GTest::gtest_main)
    gtest_discover_tests(sample_callback_test DISCOVERY_TIMEOUT 60)

    # Runs the real start and stop sequences; the stream tests start it as a child.
    add_executable(audio_probe audio_probe.cpp)
    target_link_libraries(audio_probe PRIVATE dsphost_audio)

    # Effects that replace the pass-through at run time through LD_LIBRARY_PATH, each a
    # libmix_c.so in its own directory.
    foreach(effect constant negate)
        add_library(test_effect_${effect} SHARED effect_${effect}.cpp)
        target_include_directories(test_effect_${effect} PRIVATE ${PROJECT_SOURCE_DIR})
        set_target_properties(test_effect_${effect} PROPERTIES
            OUTPUT_NAME mix_c
            LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/effects/${effect})
    endforeach()

    # Real PortAudio and ALSA streams through files.
    add_executable(audio_stream_test audio_stream_test.cpp)
    target_link_libraries(audio_stream_test PRIVATE dsphost_test_support GTest::gtest_main)
    target_compile_definitions(audio_stream_test PRIVATE
        DSPHOST_AUDIO_PROBE="$<TARGET_FILE:audio_probe>"
        DSPHOST_EFFECT_CONSTANT_DIR="$<TARGET_FILE_DIR:test_effect_constant>"
        DSPHOST_EFFECT_NEGATE_DIR="$<TARGET_FILE_DIR:test_effect_negate>"
        DSPHOST_EXAMPLE_PREEMPHASIS_DIR="$<TARGET_FILE_DIR:example_preemphasis>")
    add_dependencies(audio_stream_test audio_probe test_effect_constant test_effect_negate
        example_preemphasis)
    gtest_discover_tests(audio_stream_test DISCOVERY_TIMEOUT 60)
endif()
