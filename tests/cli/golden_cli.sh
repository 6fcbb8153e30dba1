# golden_cli.sh -- every golden input through its tool's command line, each in a folder of its own:
# tests/golden/valid/<tool>/ must be handled cleanly (status 0), tests/golden/invalid/<tool>/ refused
# (status 1). Standard output, standard error and what is left in the folder (every file with its
# SHA-256, so the outputs are pinned byte for byte) must be what is recorded beside each input
# (<case>.out, <case>.err, <case>.files; a missing .out or .err means empty; the case's folder reads <dir>).
# A case is a file, or a folder (a manifest and its member files, or several files named by <case>.args);
# <case>.args replaces the arguments
# ($CASE is the case's name). GOLDEN_BLESS=1 records what the tools do now instead of comparing.
# The tools run in the locale C.UTF-8.
#
# The Windows console programs run the same cases under Wine when GOLDEN_WINE names wine (BIN is then
# their folder, cli/ of the Windows build; tests/gui/run_under_wine.sh --sh sets them up) in the locale
# ja_JP.UTF-8, that is with code page 932, so that a Shift_JIS name is the same file name on disk as the
# Linux tools write it. Their output is read back from code page 932 with CR LF line ends, the folder as
# Windows names it (Z:\...) is <dir> too, and "\" and "/" count as the same separator on both sides.
# Cases that differ by design are skipped below, each with its reason.
. "$(dirname "$0")/lib.sh"
GOLDEN=$SRC/tests/golden
BLESS=${GOLDEN_BLESS:-0}
WINE=${GOLDEN_WINE:-}
LOCALE=C.UTF-8
[ -n "$WINE" ] && LOCALE=ja_JP.UTF-8 && BLESS=0

# windows_differs CASE: what of the case differs on Windows by design, a rule of its own for names, and
# why: "PARTS|reason", PARTS naming stdout and files not compared (the status, stderr and every other file
# are). The separators, the drive in <dir> and code page 932 are read back above.
windows_differs() {
  case $1 in
  valid/sorvik/sjis.bin)
    echo "stdout|Linux converts the Shift_JIS name for its file and notes it; Windows takes its bytes in code page 932" ;;
  valid/quilban/sjis.psu)
    echo "stdout QUILBAN.TXT|Linux converts the Shift_JIS name for its file and notes it, its name2 line holds the file's name; Windows takes the bytes in code page 932" ;;
  esac
}

# run_tool TOOL ARGS...: in the case's folder, stdout and stderr into .case.out and .case.err.
run_tool() {
  tool=$1; shift
  if [ -z "$WINE" ]; then
    (cd "$dir" && LC_ALL=$LOCALE "$BIN/$tool" "$@" >"$WORK/.case.out" 2>"$WORK/.case.err")
    return
  fi
  (cd "$dir" && LC_ALL=$LOCALE "$WINE" "$BIN/$tool.exe" "$@" >"$WORK/.raw.out" 2>"$WORK/.raw.err")
  wine_status=$?
  for f in out err; do
    tr -d '\r' <"$WORK/.raw.$f" | iconv -f CP932 -t UTF-8 | tr '\\' / | sed "s|Z:$dir|$dir|g" >"$WORK/.case.$f"
  done
  return $wine_status
}

# check_or_bless ACTUAL EXPECTED WHAT: compares (a missing EXPECTED is empty), or records.
check_or_bless() {
  if [ "$BLESS" = 1 ]; then
    if [ -s "$1" ]; then cp "$1" "$2"; else rm -f "$2"; fi
  elif [ -f "$2" ] && [ -n "$WINE" ]; then
    tr '\\' / <"$2" | cmp -s "$1" - || fail "$3 differs:$(tr '\\' / <"$2" | diff - "$1" | head -20)"
  elif [ -f "$2" ]; then
    cmp -s "$1" "$2" || fail "$3 differs:$(diff "$2" "$1" | head -20)"
  else
    [ ! -s "$1" ] || fail "$3 should be empty: $(head -5 "$1")"
  fi
}

cases=0
skipped=0
for kind in valid invalid; do
  want=0
  [ $kind = invalid ] && want=1
  for tooldir in "$GOLDEN/$kind"/*/; do
    tool=$(basename "$tooldir")
    for case in "$tooldir"*; do
      CASE=$(basename "$case")
      case $CASE in *.out | *.err | *.files | *.args) continue ;; esac
      what="$kind/$tool/$CASE"
      why=""
      [ -n "$WINE" ] && why=$(windows_differs "$what")
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
      run_tool "$tool" "$@" || status=$?
      [ "$status" -eq "$want" ] || fail "$what: exit status $status, expected $want ($(head -3 "$WORK/.case.err"))"
      (cd "$dir" && find . -mindepth 1 -type d | sed 's|$|/|'; cd "$dir" && find . -type f -exec sha256sum {} +) |
        LC_ALL=C sort -k 2 >"$WORK/.case.files"
      for f in out err files; do sed -i "s|$dir|<dir>|g" "$WORK/.case.$f"; done
      parts=${why%%|*}
      [ -z "$why" ] || { echo "Windows: $what: $parts not compared: ${why#*|}"; skipped=$((skipped + 1)); }
      case " $parts " in *" stdout "*) ;; *) check_or_bless "$WORK/.case.out" "$case.out" "$what: stdout" ;; esac
      check_or_bless "$WORK/.case.err" "$case.err" "$what: stderr"
      files=$case.files
      for f in $parts; do
        [ "$f" = stdout ] && continue
        grep -v "/$f\$" "$case.files" >"$WORK/.want.files" || true
        grep -v "/$f\$" "$WORK/.case.files" >"$WORK/.left.files" || true
        mv "$WORK/.left.files" "$WORK/.case.files"
        files=$WORK/.want.files
      done
      check_or_bless "$WORK/.case.files" "$files" "$what: the files left"
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
[ -z "$WINE" ] || echo "$cases golden cases run on Windows; $skipped differ in part by design"
finish
