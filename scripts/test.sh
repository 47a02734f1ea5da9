#!/usr/bin/env bash
# Builds and runs every test: the regular build with warnings as errors, then the sanitizer
# build (AddressSanitizer with UndefinedBehaviorSanitizer) and short fuzz runs of the .x reader.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

echo "== regular build"
cmake -S . -B build-test -G Ninja -DDUOSCOPE_WERROR=ON >/dev/null
cmake --build build-test -j "$jobs"
echo "== tests"
(cd build-test && ctest --output-on-failure -j "$jobs")

echo "== sanitizer build (address, undefined)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDUOSCOPE_SANITIZE=address \
    -DDUOSCOPE_WERROR=ON >/dev/null
cmake --build build-asan -j "$jobs"
echo "== tests under the sanitizers"
# Mesa's driver keeps allocations the leak checker cannot attribute: the OpenGL tests run
# without leak detection, all others with it.
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j "$jobs" -LE gl)
(cd build-asan && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j "$jobs" -L gl)

echo "== fuzzing the .x reader for a minute (clang, libFuzzer, address sanitizer)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DDUOSCOPE_FUZZ=ON -DDUOSCOPE_SANITIZE=address >/dev/null
cmake --build build-fuzz -j "$jobs" --target fuzz_xfile
(cd build-fuzz && ctest --output-on-failure -R '^fuzz_')
