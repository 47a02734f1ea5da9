# bench_xfile compares our .x reader with Assimp's importer in the same run.
find_package(assimp CONFIG QUIET)
if(TARGET bench_xfile)
    if(TARGET assimp::assimp)
        target_link_libraries(bench_xfile PRIVATE assimp::assimp)
    else()
        target_link_libraries(bench_xfile PRIVATE assimp)
    endif()
endif()
