#!/usr/bin/env bash
# Builds the benchmarks in Release and runs every one of them to the end, even when one fails;
# the exit status says whether all of them succeeded. The device-against-bare-GL comparison
# runs its cases interleaved and repeated, since llvmpipe's timings drift between runs and
# processes: only cases measured side by side compare. The start-up and full-screen
# comparisons alternate whole processes, round after round, for the same reason.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# Competitors installed here only, never by setup.sh, since nothing else needs them:
# nats-server for the relay comparison (bench_relay), f3d for start-up under X
# (bench_startup_x). Without one, its column is skipped with one line.
wanted=()
command -v nats-server >/dev/null 2>&1 || [ -x /usr/sbin/nats-server ] || wanted+=(nats-server)
command -v f3d >/dev/null 2>&1 || wanted+=(f3d)
if [ ${#wanted[@]} -gt 0 ]; then
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    { $sudo_cmd apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${wanted[@]}" >/dev/null; } ||
        echo "bench.sh: could not install ${wanted[*]}; the benchmarks run without them" >&2
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
# The relay beside nats-server and a bare epoll broadcaster, the same generator driving each:
# 100 clients in one room, 1000 and 10 000 in pairs, positions at 25/s (10 000 also at 2/s,
# which the generator keeps up with on two cores), 3 interleaved rounds of 3 s runs, medians and
# ratios; then the relay alone beside a flooding client, and with 1000 clients in one room.
run ../build-bench/bench/bench_relay 3 3
# Position latency viewer to viewer through the relay, and the idle networked viewer's memory.
run ../build-bench/bench/bench_net
if [ ${#failed[@]} -ne 0 ]; then
    echo "bench.sh: failed: ${failed[*]}" >&2
    exit 1
fi
