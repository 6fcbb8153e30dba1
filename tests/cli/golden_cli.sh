# golden_cli.sh -- every golden input through its tool's command line, each in a folder of its own:
# tests/golden/valid/<tool>/ must be handled cleanly (status 0), tests/golden/invalid/<tool>/ refused
# (status 1). Standard output, standard error and what is left in the folder (every file with its
# SHA-256, so the outputs are pinned byte for byte) must be what is recorded beside each input
# (<case>.out, <case>.err, <case>.files; a missing .out or .err means empty; the case's folder reads <dir>).
# A case is a file, or a folder (a manifest and its member files, or several files named by <case>.args);
# <case>.args replaces the arguments
# ($CASE is the case's name). GOLDEN_BLESS=1 records what the tools do now instead of comparing.
. "$(dirname "$0")/lib.sh"
GOLDEN=$SRC/tests/golden
BLESS=${GOLDEN_BLESS:-0}

# check_or_bless ACTUAL EXPECTED WHAT: compares (a missing EXPECTED is empty), or records.
check_or_bless() {
  if [ "$BLESS" = 1 ]; then
    if [ -s "$1" ]; then cp "$1" "$2"; else rm -f "$2"; fi
  elif [ -f "$2" ]; then
    cmp -s "$1" "$2" || fail "$3 differs:$(diff "$2" "$1" | head -20)"
  else
    [ ! -s "$1" ] || fail "$3 should be empty: $(head -5 "$1")"
  fi
}

cases=0
for kind in valid invalid; do
  want=0
  [ $kind = invalid ] && want=1
  for tooldir in "$GOLDEN/$kind"/*/; do
    tool=$(basename "$tooldir")
    for case in "$tooldir"*; do
      CASE=$(basename "$case")
      case $CASE in *.out | *.err | *.files | *.args) continue ;; esac
      what="$kind/$tool/$CASE"
      dir=$WORK/$kind-$tool-$CASE
      mkdir -p "$dir"
      cp -r "$case" "$dir/"
      if [ -f "$case.args" ]; then
        args=$(cat "$case.args")
      elif [ -d "$case" ]; then
        args='$CASE/QUILBAN.TXT'
      elif [ "$tool" = taviro ]; then
        args='--raw -o card.bin $CASE'
      else
        args='$CASE'
      fi
      eval "set -- $args"
      status=0
      (cd "$dir" && LC_ALL=C "$BIN/$tool" "$@" >"$WORK/.case.out" 2>"$WORK/.case.err") || status=$?
      [ "$status" -eq "$want" ] || fail "$what: exit status $status, expected $want ($(head -3 "$WORK/.case.err"))"
      (cd "$dir" && find . -mindepth 1 -type d | sed 's|$|/|'; cd "$dir" && find . -type f -exec sha256sum {} +) |
        LC_ALL=C sort -k 2 >"$WORK/.case.files"
      for f in out err files; do sed -i "s|$dir|<dir>|g" "$WORK/.case.$f"; done
      check_or_bless "$WORK/.case.out" "$case.out" "$what: stdout"
      check_or_bless "$WORK/.case.err" "$case.err" "$what: stderr"
      check_or_bless "$WORK/.case.files" "$case.files" "$what: the files left"
      # An input is never changed (but by a rename or a same-path replacement, which .files shows).
      if [ -f "$case" ] && [ -f "$dir/$CASE" ] && [ "$tool" != varkon ]; then
        expect_same "$dir/$CASE" "$case" "$what: the input"
      fi
      rm -rf "$dir"
      cases=$((cases + 1))
    done
  done
done
[ $cases -ge 40 ] || fail "only $cases golden cases found"
finish
