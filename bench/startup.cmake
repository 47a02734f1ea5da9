# The start-up floor: a bare SDL + OpenGL program that bench_startup runs beside the viewer.
add_executable(startup_floor ${CMAKE_CURRENT_SOURCE_DIR}/startup_floor.cpp)
target_link_libraries(startup_floor PRIVATE PkgConfig::SDL2 PkgConfig::EPOXY)
if(TARGET bench_startup)
    add_dependencies(bench_startup startup_floor duoscope)
endif()
