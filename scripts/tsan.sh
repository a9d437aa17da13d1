#!/usr/bin/env bash
# The Modbus and OPC UA libraries, the core and their unit tests under
# ThreadSanitizer. Qt is left out: Debian's Qt is not built with it, so every
# queued signal would be reported. Kept apart from test.sh, whose length it
# would grow by a fourth build; run it after changing anything threads share.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
pelmoran_ensure_packages "${PELMORAN_BUILD_PACKAGES[@]}" "${PELMORAN_TEST_PACKAGES[@]}"

jobs=$(nproc)
export CTEST_OUTPUT_ON_FAILURE=1
build=${PELMORAN_TSAN_BUILD_DIR:-build-tsan}

echo "== unit tests of the libraries and the core under ThreadSanitizer"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELMORAN_GUI=OFF \
  -DPELMORAN_TSAN=ON -DPELMORAN_BENCH=OFF -DPELMORAN_WERROR=ON >/dev/null
cmake --build "$build" -j "$jobs"
TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir "$build" -j "$jobs" -L unit --timeout 600
echo "== no data race found"
