#!/usr/bin/env bash
# Builds and runs every test: the Release build (warnings are errors) with
# unit, widget and integration tests, the headless program under valgrind
# memcheck among them; the unit tests, the Modbus library against its peers and
# the headless end-to-end tests again under AddressSanitizer and UndefinedBehaviorSanitizer at -O2; and a short
# run of every fuzz target. ThreadSanitizer has a command of its own,
# scripts/tsan.sh (see tests/README.md).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
pelmoran_ensure_packages "${PELMORAN_BUILD_PACKAGES[@]}" "${PELMORAN_TEST_PACKAGES[@]}"
pelmoran_ensure_npm

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export CTEST_OUTPUT_ON_FAILURE=1

# The configuration users and packagers build, so that it always compiles.
echo "== build and test (Release)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELMORAN_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --timeout 600

# Optimised, because some faults (memory freed by the wrong function, among
# them) only show once the compiler inlines; asserts stay on.
echo "== unit, Modbus peer and headless end-to-end tests under ASan+UBSan (-O2)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g" \
  -DPELMORAN_SANITIZE=ON -DPELMORAN_BENCH=OFF -DPELMORAN_WERROR=ON >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
  ctest --test-dir build-asan -j "$jobs" -L 'unit|integration' --timeout 600

echo "== fuzz targets (short runs)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPELMORAN_GUI=OFF -DPELMORAN_FUZZ=ON -DPELMORAN_BENCH=OFF -DPELMORAN_WERROR=ON >/dev/null
cmake --build build-fuzz -j "$jobs"
ctest --test-dir build-fuzz -j "$jobs" -L fuzz --timeout 600

echo "== all tests passed"
