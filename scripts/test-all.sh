#!/bin/sh
# test-all.sh -- installs what is missing, builds everything (Linux tools and the Windows programs),
# and runs every test: unit, command-line and Windows-program tests under Wine.
set -eu
cd "$(dirname "$0")/.."
scripts/setup-debian.sh
JOBS=${JOBS:-2}
start=$(date +%s)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$JOBS"
ctest --test-dir build -j "$JOBS" --output-on-failure --timeout 600

# The unit, command-line and replay tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPS2_SANITIZE=address,undefined \
  -DPS2_WINDOWS=OFF -DPS2_BENCH=OFF >/dev/null
cmake --build build-asan -j "$JOBS"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan -j "$JOBS" --output-on-failure --timeout 900 -LE gui

# Each fuzz target for a bounded time; any finding fails the run.
scripts/fuzz.sh "${FUZZ_SECONDS:-30}"

echo "all tests passed in $(( $(date +%s) - start )) s"
