# lib.sh -- helpers for the command-line tests: run a tool, compare stdout, stderr and exit status.
# A test script is run as: sh <script> <bin-dir> <source-dir>; it sources this file.
set -u
BIN=$1
SRC=$2
REALDATA="$SRC/../shared/realdata"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/clitest.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
FAILED=0

# run TOOL ARGS...: runs $BIN/TOOL, keeps stdout in $OUT, stderr in $ERR, status in $STATUS
run() {
  tool=$1; shift
  "$BIN/$tool" "$@" >"$WORK/.out" 2>"$WORK/.err"
  STATUS=$?
  OUT=$(cat "$WORK/.out")
  ERR=$(cat "$WORK/.err")
}

fail() { echo "FAIL: $*" >&2; FAILED=1; }

expect_status() { [ "$STATUS" -eq "$1" ] || fail "${2:-}: exit status $STATUS, expected $1 (stderr: $ERR)"; }
expect_out() { [ "$OUT" = "$1" ] || fail "${2:-}: stdout was [$OUT], expected [$1]"; }
expect_err() { [ "$ERR" = "$1" ] || fail "${2:-}: stderr was [$ERR], expected [$1]"; }
expect_err_has() { case "$ERR" in *"$1"*) ;; *) fail "${2:-}: stderr [$ERR] lacks [$1]" ;; esac; }
expect_out_has() { case "$OUT" in *"$1"*) ;; *) fail "${2:-}: stdout [$OUT] lacks [$1]" ;; esac; }
expect_file() { [ -f "$1" ] || fail "${2:-}: missing file $1"; }
expect_no_file() { [ ! -e "$1" ] || fail "${2:-}: unexpected file $1"; }
expect_same() { cmp -s "$1" "$2" || fail "${3:-}: $1 and $2 differ"; }

finish() { exit $FAILED; }
