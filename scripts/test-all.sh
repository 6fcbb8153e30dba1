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

echo "all tests passed in $(( $(date +%s) - start )) s"
