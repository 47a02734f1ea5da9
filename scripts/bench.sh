#!/usr/bin/env bash
# Builds the benchmarks in Release and runs every one of them to the end, even when one fails;
# the exit status says whether all of them succeeded. The device-against-bare-GL comparison
# runs its cases interleaved and repeated, since llvmpipe's timings drift between runs and
# processes: only cases measured side by side compare. The start-up and full-screen
# comparisons alternate whole processes, round after round, for the same reason.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# f3d is the start-up competitor under X (bench_startup_x); installed here only, never by
# setup.sh, since nothing else needs it.
if ! command -v f3d >/dev/null 2>&1; then
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    { $sudo_cmd apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq f3d >/dev/null; } ||
        echo "bench.sh: f3d could not be installed; bench_startup_x runs without it" >&2
fi
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DDUOSCOPE_BENCH=ON >/dev/null || exit 1
cmake --build build-bench -j "$(nproc)" || exit 1
cd data
# The machine the figures come from.
echo "== $(date -u '+%Y-%m-%d %H:%M UTC'): $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1)," \
    "$(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo), load $(cut -d' ' -f1-3 /proc/loadavg)," \
    "Mesa $(dpkg-query -W -f='${Version}' libgl1-mesa-dri 2>/dev/null) (llvmpipe without a GPU)"
failed=()
run() {
    "$@"
    local status=$?
    if [ $status -ne 0 ]; then
        echo "bench.sh: $(basename "$1") ended with status $status" >&2
        failed+=("$(basename "$1")")
    fi
}
run ../build-bench/bench/bench_viewer
run ../build-bench/bench/bench_xfile
run ../build-bench/bench/bench_gl --benchmark_repetitions=6 \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
run ../build-bench/bench/bench_startup
run ../build-bench/bench/bench_startup_x
run ../build-bench/bench/bench_present
# The relay with 100, 1000 and 4000 clients in rooms of two sending positions at 25/s, each
# load without and then with a client flooding it, side by side.
run ../build-bench/bench/bench_relay 5
# Position latency viewer to viewer through the relay, and the idle networked viewer's memory.
run ../build-bench/bench/bench_net
if [ ${#failed[@]} -ne 0 ]; then
    echo "bench.sh: failed: ${failed[*]}" >&2
    exit 1
fi
