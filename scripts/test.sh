#!/usr/bin/env bash
# Builds and runs every test: the normal build with unit, widget and
# integration tests; the unit tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer; and a short run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
pelmoran_ensure_packages "${PELMORAN_BUILD_PACKAGES[@]}" "${PELMORAN_TEST_PACKAGES[@]}"
pelmoran_ensure_npm

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export CTEST_OUTPUT_ON_FAILURE=1

echo "== build and test (RelWithDebInfo)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --timeout 600

echo "== unit tests under ASan+UBSan"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPELMORAN_GUI=OFF \
  -DPELMORAN_SANITIZE=ON -DPELMORAN_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -j "$jobs" -L unit --timeout 600

echo "== fuzz targets (short runs)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPELMORAN_GUI=OFF -DPELMORAN_FUZZ=ON -DPELMORAN_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$jobs"
ctest --test-dir build-fuzz -j "$jobs" -L fuzz --timeout 600

echo "== all tests passed"
