#!/bin/sh
# fuzz.sh -- builds the libFuzzer targets with clang (the code under test too is instrumented: coverage,
# address and undefined-behaviour sanitizers) and runs each for a bounded time on a copy of its corpus,
# JOBS targets at a time; fails on any finding (a crash, a broken property, a leak, a hang, undefined
# behaviour). Findings are kept in $FUZZ_BUILD/findings/<target>/ with the log beside them.
# Usage: scripts/fuzz.sh [seconds-per-target] [target...]
# Environment: JOBS (targets at once, default 2), FUZZ_BUILD (build folder, default build-fuzz),
#   FUZZ_KEEP=1 (keep each run's grown corpus in $FUZZ_BUILD/corpus/<target>, and start from it next time),
#   FUZZ_RUNS (stop a target after that many executions, if its time is not up before), FUZZ_NICE (nice level).
# A long local run, one target at a time: FUZZ_KEEP=1 FUZZ_RUNS=10000000 FUZZ_NICE=10 JOBS=1 scripts/fuzz.sh 7200
set -eu
self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
cd "$(dirname "$0")/.."
BUILD=${FUZZ_BUILD:-build-fuzz}

# One target (run by xargs below): prints "target: N runs, E exec/s, cov C, no finding" or the finding.
if [ "${1:-}" = "--run-one" ]; then
  seconds=$2 t=$3
  case $t in
    cardsplit_split_fuzz) max_len=65793 ;;  # options, 64 FAT entries, 64 clusters
    droprun_text_fuzz) max_len=8192 ;;
    maleto_names_fuzz | droprun_run_fuzz | lzari_decode_fuzz) max_len=65536 ;;
    lzari_round_trip_fuzz) max_len=16384 ;; # four windows; the codec's tests take megabytes
    *) max_len=1048576 ;;
  esac
  if [ "${FUZZ_KEEP:-0}" = 1 ]; then
    work=$BUILD/corpus/$t
    mkdir -p "$work"
  else
    work=$(mktemp -d)
  fi
  [ -d fuzz/corpus/$t ] && cp -r fuzz/corpus/$t/. "$work/"
  mkdir -p $BUILD/findings/$t
  log=$BUILD/findings/$t.log
  status=0
  nice -n "${FUZZ_NICE:-0}" $BUILD/bin/$t -max_total_time="$seconds" -timeout=25 -rss_limit_mb=4096 \
    -max_len=$max_len -runs="${FUZZ_RUNS:--1}" -print_final_stats=1 -artifact_prefix=$BUILD/findings/$t/ "$work" >"$log" 2>&1 || status=$?
  [ "${FUZZ_KEEP:-0}" = 1 ] || rm -rf "$work"
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  speed=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || true)
  if [ $status -ne 0 ]; then
    echo "FUZZ FINDING in $t (log $log; replay: $BUILD/bin/$t $BUILD/findings/$t/<crash-file>)"
    tail -40 "$log"
    exit 1
  fi
  echo "$t: ${runs:-?} runs, ${speed:-?} exec/s, cov ${cov:-?}, no finding"
  exit 0
fi

SECONDS_EACH=${1:-30}
[ $# -gt 0 ] && shift
targets=${*:-$(cd fuzz && ls *_fuzz.cpp | sed 's/\.cpp$//')}
# The whole build with the fuzzer's coverage and the sanitizers; only the fuzz targets are linked.
CC=clang CXX=clang++ cmake -S . -B $BUILD -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPS2_FUZZ=ON \
  -DPS2_TESTS=OFF -DPS2_BENCH=OFF -DPS2_WINDOWS=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" \
  >/dev/null
# shellcheck disable=SC2086
cmake --build $BUILD -j "${JOBS:-2}" --target $targets >/dev/null
printf '%s\n' $targets | xargs -P "${JOBS:-2}" -n 1 "$self" --run-one "$SECONDS_EACH"
