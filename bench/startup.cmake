# The start-up floor: a bare SDL + OpenGL program that bench_startup and bench_startup_x run
# beside the viewer; given a file name it writes its frame there as PNG, as the viewer does.
add_executable(startup_floor ${CMAKE_CURRENT_SOURCE_DIR}/startup_floor.cpp
    ${CMAKE_SOURCE_DIR}/platform/gfx/png_writer.cpp)
target_include_directories(startup_floor PRIVATE ${CMAKE_SOURCE_DIR})
target_include_directories(startup_floor SYSTEM PRIVATE ${STB_INCLUDE_DIR})
target_link_libraries(startup_floor PRIVATE PkgConfig::SDL2 PkgConfig::EPOXY)
# The windowed build beside the shipped one, for bench_startup_x.
if(NOT TARGET duoscope-windowed)
    duoscope_viewer(duoscope-windowed 1 0 0 0)
endif()
if(TARGET bench_startup)
    add_dependencies(bench_startup startup_floor duoscope)
endif()
# bench_startup_x runs them on a private Xvfb.
find_package(X11 REQUIRED)
target_sources(bench_startup_x PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/xserver.cpp)
target_link_libraries(bench_startup_x PRIVATE X11::X11 X11::Xdamage)
add_dependencies(bench_startup_x startup_floor duoscope duoscope-windowed)
