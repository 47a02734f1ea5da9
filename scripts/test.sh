#!/usr/bin/env bash
# Builds and runs every test: the regular build with warnings as errors and invariant checks,
# the Debian package made from it, unpacked and run, the same suite under AddressSanitizer with
# UndefinedBehaviorSanitizer, the threaded tests under ThreadSanitizer, and short libFuzzer runs
# of the four parsers (the .x reader, the effect file, the session's receive framing, the
# relay's frame splitter).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

echo "== regular build"
cmake -S . -B build-test -G Ninja -DDUOSCOPE_WERROR=ON -DDUOSCOPE_ASSERTS=ON \
    -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build-test -j "$jobs"
echo "== tests"
(cd build-test && ctest --output-on-failure -j "$jobs")
echo "== the Debian package, unpacked and run"
bash scripts/package_test.sh build-test

echo "== sanitizer build (address, undefined)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDUOSCOPE_SANITIZE=address \
    -DDUOSCOPE_WERROR=ON >/dev/null
cmake --build build-asan -j "$jobs"
echo "== tests under the sanitizers"
# Mesa's driver keeps allocations the leak checker cannot attribute: the OpenGL tests run
# without leak detection, all others with it.
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j "$jobs" -LE gl)
(cd build-asan && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j "$jobs" -L gl)

echo "== thread sanitizer build: the tests that run more than one thread (label net)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDUOSCOPE_SANITIZE=thread \
    -DDUOSCOPE_WERROR=ON >/dev/null
cmake --build build-tsan -j "$jobs" --target net_tests
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    ctest --output-on-failure -j "$jobs" -L net --no-tests=ignore)

echo "== short fuzz runs of every parser (clang, libFuzzer, address sanitizer)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DDUOSCOPE_FUZZ=ON -DDUOSCOPE_SANITIZE=address -DDUOSCOPE_ASSERTS=ON >/dev/null
cmake --build build-fuzz -j "$jobs" --target fuzz_all
(cd build-fuzz && ctest --output-on-failure -R '^fuzz_')
