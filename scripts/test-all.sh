#!/bin/sh
# test-all.sh -- installs what is missing, builds everything (Linux tools and the Windows programs),
# and runs every test: unit, command-line and Windows-program tests under Wine; then every unit,
# command-line and fuzz-corpus test again under the address (with leaks), undefined-behaviour
# sanitizers; then each fuzz target for a bounded time. Any failure, finding or leak fails the run.
# Environment: JOBS (default 2), FUZZ_SECONDS (per fuzz target, default 30; 0 skips the fuzzing).
set -eu
cd "$(dirname "$0")/.."
scripts/setup-debian.sh
JOBS=${JOBS:-2}
start=$(date +%s)
lap() { echo "== $1 done after $(( $(date +%s) - start )) s"; }

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$JOBS"
# A Windows-program run that fails is run once more: under Wine on a loaded machine one run in many
# dozens has hung without a cause we could reproduce (a hung test now ends after two minutes and names
# the step it hung in). Every other failure, and a second failure of the same run, fails the whole run.
if ! ctest --test-dir build -j "$JOBS" --output-on-failure --timeout 600; then
  failed=$(cut -d: -f2 build/Testing/Temporary/LastTestsFailed.log)
  if [ -z "$failed" ] || printf '%s\n' "$failed" | grep -qv '^gui_'; then exit 1; fi
  echo "== running the failed Windows-program runs once more:" $failed
  ctest --test-dir build --rerun-failed --output-on-failure --timeout 600
fi
lap "build and tests"

# The unit, command-line and replay tests again under AddressSanitizer (LeakSanitizer included) and
# UndefinedBehaviorSanitizer; every finding stops the program with a failing status. Under the address
# sanitizer the platform's blocks come from its heap, so that it watches them too.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPS2_SANITIZE=address,undefined \
  -DPS2_WINDOWS=OFF -DPS2_BENCH=OFF >/dev/null
cmake --build build-asan -j "$JOBS"
ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_string_checks=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -j "$JOBS" --output-on-failure --timeout 900 -LE 'gui|package'
lap "sanitizer build and tests"

# Each fuzz target for a bounded time, two at a time; any finding fails the run.
if [ "${FUZZ_SECONDS:-30}" -gt 0 ]; then
  JOBS=$JOBS scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
  lap "fuzzing"
fi

echo "all tests passed in $(( $(date +%s) - start )) s"
