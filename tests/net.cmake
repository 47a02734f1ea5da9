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
# dispatchOne.
if(DUOSCOPE_FUZZ)
    duo_fuzz_target(fuzz_net_framing 30 65536
        SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/fuzz_net_framing.cpp ${CMAKE_SOURCE_DIR}/net/net_session.cpp
        SEEDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/framing)
    target_link_libraries(fuzz_net_framing PRIVATE Threads::Threads)
endif()
