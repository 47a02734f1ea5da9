# The network tests: the program test runs the networked viewer and the relay; the libFuzzer
# target feeds the session's receive framing.
if(TARGET test_net_program)
    add_dependencies(test_net_program duoscope-net duoscope-relay)
    # Under ThreadSanitizer the viewers it starts are instrumented too; Mesa's own threads are
    # not ours to check.
    # It also runs viewers, so it carries "gl" too: Mesa's allocations past exit are not
    # leaks of ours.
    set_tests_properties(test_net_program PROPERTIES LABELS "net;gl" ENVIRONMENT
        "SDL_VIDEODRIVER=offscreen;TSAN_OPTIONS=halt_on_error=1 second_deadlock_stack=1 suppressions=${CMAKE_CURRENT_SOURCE_DIR}/tsan-mesa.supp")
endif()

# tests/fuzz/fuzz_net_framing.cpp: arbitrary bytes through a socket pair into readPiece and
# dispatchOne. Only the session's source is instrumented for coverage.
if(DUOSCOPE_FUZZ)
    add_executable(fuzz_net_framing ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/fuzz_net_framing.cpp
        ${CMAKE_SOURCE_DIR}/net/net_session.cpp)
    target_include_directories(fuzz_net_framing PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_options(fuzz_net_framing PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_net_framing PRIVATE -fsanitize=fuzzer)
    target_link_libraries(fuzz_net_framing PRIVATE Threads::Threads)
    # New inputs go to a corpus in the build tree; the committed seeds are read-only.
    set(DUO_FRAMING_CORPUS ${CMAKE_CURRENT_BINARY_DIR}/fuzz-framing-corpus)
    file(MAKE_DIRECTORY ${DUO_FRAMING_CORPUS})
    add_test(NAME fuzz_net_framing_short
        COMMAND fuzz_net_framing -max_total_time=30 -max_len=65536 -timeout=10
            -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/fuzz-framing-
            ${DUO_FRAMING_CORPUS} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/framing)
    set_tests_properties(fuzz_net_framing_short PROPERTIES TIMEOUT 300)
    add_dependencies(fuzz_all fuzz_net_framing)
endif()
