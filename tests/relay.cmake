# duoscope-relay's tests run the real binary; the libFuzzer target feeds its frame splitter.
add_dependencies(test_relay duoscope-relay)

if(DUOSCOPE_FUZZ)
    add_executable(fuzz_relay_frames ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/fuzz_relay_frames.cpp
        ${CMAKE_SOURCE_DIR}/relay/frames.cpp)
    target_include_directories(fuzz_relay_frames PRIVATE ${CMAKE_SOURCE_DIR}/relay)
    target_compile_options(fuzz_relay_frames PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_relay_frames PRIVATE -fsanitize=fuzzer)
    # New inputs go to a corpus in the build tree; the committed seeds are read-only.
    set(DUO_RELAY_CORPUS ${CMAKE_CURRENT_BINARY_DIR}/fuzz-relay-corpus)
    file(MAKE_DIRECTORY ${DUO_RELAY_CORPUS})
    add_test(NAME fuzz_relay_short
        COMMAND fuzz_relay_frames -max_total_time=30 -max_len=65536 -timeout=10
            -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/fuzz-relay-
            ${DUO_RELAY_CORPUS} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/relay)
    set_tests_properties(fuzz_relay_short PROPERTIES TIMEOUT 300)
    add_dependencies(fuzz_all fuzz_relay_frames)
endif()
