# bench_relay drives the real duoscope-relay binary, nats-server when it is installed, and the
# bare epoll broadcaster, the floor it compares against; its load generator is relay_load.cpp.
add_executable(broadcaster ${CMAKE_CURRENT_SOURCE_DIR}/broadcaster.cpp)
target_include_directories(broadcaster PRIVATE ${CMAKE_SOURCE_DIR})
target_sources(bench_relay PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/relay_load.cpp)
add_dependencies(bench_relay duoscope-relay broadcaster)
target_compile_definitions(bench_relay PRIVATE DUO_RELAY_PATH="$<TARGET_FILE:duoscope-relay>"
    DUO_BROADCASTER_PATH="$<TARGET_FILE:broadcaster>")
