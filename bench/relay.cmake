# bench_relay drives the real duoscope-relay binary.
add_dependencies(bench_relay duoscope-relay)
target_compile_definitions(bench_relay PRIVATE DUO_RELAY_PATH="$<TARGET_FILE:duoscope-relay>")
