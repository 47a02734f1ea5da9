# The effect file parser's libFuzzer target (tests/fuzz/fuzz_effect.cpp). The parser needs no
# GL context, so the target builds it alone, with coverage instrumentation.
if(DUOSCOPE_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "DUOSCOPE_FUZZ needs clang (CC=clang CXX=clang++)")
    endif()
    add_executable(fuzz_effect ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/fuzz_effect.cpp
        ${CMAKE_SOURCE_DIR}/platform/gfx/gl_effect_parse.cpp)
    target_include_directories(fuzz_effect PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_options(fuzz_effect PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_effect PRIVATE -fsanitize=fuzzer)
    # A short run for CI: new inputs go to a corpus in the build tree, the committed seeds
    # (the shipped effect, small variants, every crash found) are read-only.
    set(DUO_EFFECT_CORPUS ${CMAKE_CURRENT_BINARY_DIR}/fuzz-effect-corpus)
    file(MAKE_DIRECTORY ${DUO_EFFECT_CORPUS})
    add_test(NAME fuzz_effect_short
        COMMAND fuzz_effect -max_total_time=30 -max_len=65536 -timeout=10 -rss_limit_mb=2048
            -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/fuzz-effect-
            ${DUO_EFFECT_CORPUS} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/effect)
    set_tests_properties(fuzz_effect_short PROPERTIES TIMEOUT 300)
    add_dependencies(fuzz_all fuzz_effect)
endif()
