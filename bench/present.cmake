# bench_present runs the viewer scene on a private Xvfb.
find_package(X11 REQUIRED)
target_sources(bench_present PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/xserver.cpp)
target_link_libraries(bench_present PRIVATE X11::X11 X11::Xdamage)
