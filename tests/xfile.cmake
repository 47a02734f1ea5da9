# The .x reader's extra test wiring: where the third-party files are (the tests skip them when
# the folder is absent), Assimp as a test-only oracle, and the libFuzzer target.
foreach(t test_xfile_reader test_xfile_hierarchy test_xfile_animation test_xfile_hostile
        test_xfile_assimp)
    target_compile_definitions(${t} PRIVATE DUO_XFILES_DIR="${DUOSCOPE_XFILES_DIR}")
endforeach()
duo_link_assimp(test_xfile_assimp)

# tests/fuzz/fuzz_xfile.cpp: the reader and both D3DX loaders on arbitrary bytes, and the
# viewer's walks of what loads (models/), steered by the coverage of those sources; the rest of
# the system comes from its library. A tight memory limit, so that an input that makes the
# reader take far more memory than its size is found. The build-tree corpus starts with our
# models; the repository's corpus (fixtures and hostile files) and the third-party files, when
# present, are read-only seeds. -max_len holds a whole model (Testwuson.X is 820 KiB), so
# mutations reach the skin and animation sections at the end of the files.
if(DUOSCOPE_FUZZ)
    file(GLOB DUO_XFILE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/xfile/*.cpp
        ${CMAKE_SOURCE_DIR}/models/*.cpp)
    set(DUO_XFILE_SEEDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/xfile)
    if(DUO_HAVE_XFILES)
        list(APPEND DUO_XFILE_SEEDS ${DUOSCOPE_XFILES_DIR})
    endif()
    duo_fuzz_target(fuzz_xfile 60 1048576
        SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/fuzz_xfile.cpp ${DUO_XFILE_SOURCES}
            ${CMAKE_SOURCE_DIR}/platform/gfx/mesh.cpp ${CMAKE_SOURCE_DIR}/platform/file_read.cpp
        SEEDS ${DUO_XFILE_SEEDS}
        ARGS -dict=${CMAKE_CURRENT_SOURCE_DIR}/fuzz/xfile.dict
        RSS_MB 1024)
    target_sources(fuzz_xfile PRIVATE $<TARGET_OBJECTS:duo_test_settings>)
    target_link_libraries(fuzz_xfile PRIVATE duo_system)
    file(GLOB DUO_OUR_MODELS ${CMAKE_SOURCE_DIR}/data/*.x)
    file(COPY ${DUO_OUR_MODELS} DESTINATION ${CMAKE_CURRENT_BINARY_DIR}/fuzz_xfile-corpus)
endif()
