# The .x reader's extra test wiring: where the third-party files are (the tests skip them when
# the folder is absent), Assimp as a test-only oracle, and the libFuzzer target.
foreach(t test_xfile_reader test_xfile_hierarchy test_xfile_animation test_xfile_hostile
        test_xfile_assimp)
    target_compile_definitions(${t} PRIVATE DUO_XFILES_DIR="${DUOSCOPE_XFILES_DIR}")
endforeach()
duo_link_assimp(test_xfile_assimp)

# tests/fuzz/fuzz_xfile.cpp: the reader and both D3DX loaders on arbitrary bytes. Only the
# reader's own sources are built with coverage instrumentation, so the fuzzer steers by them.
if(DUOSCOPE_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "DUOSCOPE_FUZZ needs clang (CC=clang CXX=clang++)")
    endif()
    file(GLOB DUO_XFILE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/xfile/*.cpp)
    add_executable(fuzz_xfile ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/fuzz_xfile.cpp ${DUO_XFILE_SOURCES}
        ${CMAKE_SOURCE_DIR}/platform/gfx/mesh.cpp ${CMAKE_SOURCE_DIR}/platform/file_read.cpp)
    target_include_directories(fuzz_xfile PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_options(fuzz_xfile PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_xfile PRIVATE -fsanitize=fuzzer)
    target_link_libraries(fuzz_xfile PRIVATE PkgConfig::ZLIB meshoptimizer::meshoptimizer)
    # A short run for CI. New inputs go to a corpus in the build tree, seeded with our models;
    # the repository's corpus (fixtures and hostile files) and the third-party files, when
    # present, are read-only seeds. -max_len holds a whole model (Testwuson.X is 820 KiB), so
    # mutations reach the skin and animation sections at the end of the files. Longer runs use
    # the same command with a larger -max_total_time.
    set(DUO_XFILE_CORPUS ${CMAKE_CURRENT_BINARY_DIR}/fuzz-xfile-corpus)
    file(MAKE_DIRECTORY ${DUO_XFILE_CORPUS})
    file(GLOB DUO_OUR_MODELS ${CMAKE_SOURCE_DIR}/data/*.x)
    file(COPY ${DUO_OUR_MODELS} DESTINATION ${DUO_XFILE_CORPUS})
    set(DUO_XFILE_SEEDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/xfile)
    if(DUO_HAVE_XFILES)
        list(APPEND DUO_XFILE_SEEDS ${DUOSCOPE_XFILES_DIR})
    endif()
    add_test(NAME fuzz_xfile_short
        COMMAND fuzz_xfile -max_total_time=60 -max_len=1048576 -timeout=10 -rss_limit_mb=2048
            -dict=${CMAKE_CURRENT_SOURCE_DIR}/fuzz/xfile.dict
            -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/fuzz-xfile-
            ${DUO_XFILE_CORPUS} ${DUO_XFILE_SEEDS})
    set_tests_properties(fuzz_xfile_short PROPERTIES TIMEOUT 300)
    add_dependencies(fuzz_all fuzz_xfile)
endif()
