# The effect file parser's libFuzzer target (tests/fuzz/fuzz_effect.cpp). The parser needs no
# GL context, so the target builds it alone. Its seeds: the shipped effect, small variants and
# every crash found.
if(DUOSCOPE_FUZZ)
    duo_fuzz_target(fuzz_effect 30 65536
        SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/fuzz_effect.cpp ${CMAKE_SOURCE_DIR}/platform/gfx/gl_effect_parse.cpp
        SEEDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/effect)
endif()
