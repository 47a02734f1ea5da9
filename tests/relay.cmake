# duoscope-relay's tests run the real binary; the libFuzzer target feeds its frame splitter.
add_dependencies(test_relay duoscope-relay)

if(DUOSCOPE_FUZZ)
    duo_fuzz_target(fuzz_relay_frames 30 65536
        SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/fuzz_relay_frames.cpp ${CMAKE_SOURCE_DIR}/relay/frames.cpp
        SEEDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/relay)
    target_include_directories(fuzz_relay_frames PRIVATE ${CMAKE_SOURCE_DIR}/relay)
endif()
