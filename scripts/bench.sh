#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them. The device-against-bare-GL comparison runs
# its cases interleaved and repeated, since llvmpipe's timings drift between runs and
# processes: only cases measured side by side compare. The start-up and full-screen
# comparisons alternate whole processes, round after round, for the same reason.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DDUOSCOPE_BENCH=ON >/dev/null
cmake --build build-bench -j "$(nproc)"
cd data
../build-bench/bench/bench_viewer
../build-bench/bench/bench_xfile
../build-bench/bench/bench_gl --benchmark_repetitions=6 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true
../build-bench/bench/bench_startup
../build-bench/bench/bench_present
