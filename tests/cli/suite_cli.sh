# suite_cli.sh -- what the six command-line tools do alike: usage errors, --version, -h, "--", -q, and the
# batch progress on a terminal (and only there)
. "$(dirname "$0")/lib.sh"

"$BIN/ps2-samplegen" samples >/dev/null || fail "samplegen"
cp samples/BASLUS-20001GAME.psu game.psu
cp samples/BISLPS-25001ADV.psu adv.psu
LIST="$SRC/droprun/droprun-linux.example.lst"

# Usage errors: one line naming the fault, one pointing to --help, status 2.
for tool in sorvik taviro varkon quilban maleto droprun; do
  case $tool in
    sorvik) none="no card image given" ;;
    taviro) none="no output given: -o OUT names the card image to write" ;;
    *) none="no file given" ;;
  esac
  for args in "" "-q"; do
    run $tool $args
    expect_status 2 "$tool $args"
    expect_err "$tool: $none
Try '$tool --help' for more information." "$tool $args"
  done
  run $tool --bogus game.psu
  expect_status 2 "$tool --bogus"
  expect_err "$tool: unknown option '--bogus'
Try '$tool --help' for more information." "$tool --bogus"
  run $tool -h
  expect_status 0 "$tool -h"
  help=$OUT
  run $tool --help
  [ "$OUT" = "$help" ] || fail "$tool: -h and --help differ"
  expect_out_has "Exit status:" "$tool --help"
  run $tool --version
  expect_status 0 "$tool --version"
  expect_out "$tool Version 20/05/24" "$tool --version"
done

# "--" ends the options: a file whose name begins with "-" is a file.
mkdir dash && cd dash
cp ../game.psu ./-g.psu
run varkon -- -g.psu
expect_status 0 "varkon --"
expect_file ./-g.max
run quilban -- -g.psu
expect_status 0 "quilban --"
expect_file ./-g/QUILBAN.TXT
run taviro -o ./-c.bin -q -- -g.psu
expect_status 0 "taviro --"
run sorvik -q -- -c.bin
expect_status 0 "sorvik --"
expect_file ./-c/BASLUS-20001GAME.psu
run droprun --list "$LIST" -n -- -g.psu
expect_status 0 "droprun --"
expect_out_has "$PWD/-g.psu" "droprun --"
run maleto -q -- -g.psu
expect_status 0 "maleto --"
expect_out "" "maleto -q"
expect_file "./BASLUS-20001GAME-[My Save].psu"
cd ..

# Progress: a "[n/total] FILE" line on stderr when it is a terminal, erased by the end; never with -q, never
# into a file or pipe.
if command -v script >/dev/null 2>&1; then
  term() { script -qec "$1" /dev/null > "$WORK/.term" 2>&1; TERM_OUT=$(cat "$WORK/.term"); }
  mkdir prog && cd prog
  cp ../game.psu ../adv.psu .
  term "'$BIN/varkon' game.psu adv.psu"
  case $TERM_OUT in *"[1/2] game.psu"*"[2/2] adv.psu"*) ;; *) fail "varkon progress on a terminal: [$TERM_OUT]" ;; esac
  case $TERM_OUT in *"game.psu -> game.max"*"adv.psu -> adv.max"*) ;; *) fail "varkon notes: [$TERM_OUT]" ;; esac
  term "'$BIN/varkon' -q game.psu adv.psu"
  case $TERM_OUT in *"["*) fail "varkon -q shows progress: [$TERM_OUT]" ;; esac
  term "'$BIN/varkon' game.psu adv.psu 2>'$WORK/prog.err'"
  [ -s "$WORK/prog.err" ] && fail "progress written into a file: $(cat "$WORK/prog.err")"
  term "'$BIN/varkon' game.psu"
  case $TERM_OUT in *"[1/1]"*) fail "progress for a single file: [$TERM_OUT]" ;; esac
  term "'$BIN/quilban' game.psu adv.psu"
  case $TERM_OUT in *"[2/2] adv.psu"*) ;; *) fail "quilban progress: [$TERM_OUT]" ;; esac
  term "'$BIN/sorvik' game.max adv.max"
  case $TERM_OUT in *"[2/2] adv.max"*) ;; *) fail "sorvik progress: [$TERM_OUT]" ;; esac
  term "'$BIN/droprun' --list '$LIST' --preset 1 game.psu adv.psu"
  case $TERM_OUT in *"[1/2] $PWD/game.psu"*"[2/2] $PWD/adv.psu"*) ;; *) fail "droprun progress: [$TERM_OUT]" ;; esac
  term "'$BIN/maleto' game.psu adv.psu"
  case $TERM_OUT in *"[1/2] game.psu"*"[2/2] adv.psu"*) ;; *) fail "maleto progress: [$TERM_OUT]" ;; esac
  cd ..
fi
finish
