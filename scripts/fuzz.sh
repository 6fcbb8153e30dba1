#!/bin/sh
# fuzz.sh -- builds the libFuzzer targets with clang (address and undefined-behaviour sanitizers)
# and runs each for a bounded time on a copy of its corpus; fails on any finding.
# Usage: scripts/fuzz.sh [seconds-per-target] [target...]
set -eu
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-30}
[ $# -gt 0 ] && shift
BUILD=build-fuzz
CC=clang CXX=clang++ cmake -S . -B $BUILD -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPS2_FUZZ=ON \
  -DPS2_TESTS=OFF -DPS2_BENCH=OFF -DPS2_WINDOWS=OFF >/dev/null
cmake --build $BUILD -j "${JOBS:-2}" >/dev/null
targets=${*:-$(cd fuzz && ls *_fuzz.cpp | sed 's/\.cpp$//')}
status=0
for t in $targets; do
  work=$(mktemp -d)
  [ -d fuzz/corpus/$t ] && cp -r fuzz/corpus/$t/. "$work/"
  mkdir -p $BUILD/findings/$t
  if ! $BUILD/bin/$t -max_total_time="$SECONDS_EACH" -print_final_stats=1 -artifact_prefix=$BUILD/findings/$t/ \
        -rss_limit_mb=4096 -max_len=1048576 "$work" >$BUILD/findings/$t.log 2>&1; then
    echo "FUZZ FINDING in $t (see $BUILD/findings/$t.log)"; tail -30 $BUILD/findings/$t.log; status=1
  else
    echo "$t: $(grep -o 'stat::number_of_executed_units: *[0-9]*' $BUILD/findings/$t.log | grep -o '[0-9]*$') runs, no finding"
  fi
  rm -rf "$work"
done
exit $status
