# varkon_cli.sh -- the varkon command line: conversions both ways, BAD CRC, refusals, --check, options, exit statuses
. "$(dirname "$0")/lib.sh"

"$BIN/ps2-samplegen" samples >/dev/null || fail "samplegen"
cp samples/BASLUS-20001GAME.psu game.psu
cp samples/BISLPS-25001ADV.psu adv.psu
printf 'not a save' > text.txt

# PSU -> MAX -> PSU -> MAX: the second MAX archive is the first, byte for byte.
run varkon game.psu adv.psu
expect_status 0 "to max"
expect_out "game.psu -> game.max
adv.psu -> adv.max" "to max"
expect_err "" "to max"
mkdir back
cp game.max adv.max back/
run varkon back/game.max back/adv.max
expect_status 0 "to psu"
expect_out "back/game.max -> back/game.psu
back/adv.max -> back/adv.psu" "to psu"
run varkon -q back/game.psu back/adv.psu
expect_out "" "quiet"
expect_same game.max back/game.max "round trip"
expect_same adv.max back/adv.max "round trip"

# BAD CRC: a warning, and the conversion goes on.
cp game.max bad.max
printf '\000\000\000\000' | dd of=bad.max bs=1 seek=12 conv=notrunc 2>/dev/null
run varkon bad.max
expect_status 0 "bad crc"
expect_out "bad.max -> bad.psu" "bad crc"
expect_err_has "varkon: warning: bad.max: BAD CRC: the check value does not match (stored 0x00000000, computed 0x" "bad crc"
expect_same bad.psu back/game.psu "bad crc converts as the sound archive"

# ... except over itself: a damaged MAX archive named .psu is kept.
cp bad.max only.psu
run varkon only.psu
expect_status 1 "bad crc, same path"
expect_err_has "BAD CRC" "bad crc, same path"
expect_err_has "kept it" "bad crc, same path"
expect_same only.psu bad.max "bad crc, same path"

# Refusals get one line each and fail the run; the other files are still converted.
cp adv.psu ./-x.psu
run varkon text.txt missing.psu -- -x.psu
expect_status 1 "refusals"
expect_out "-x.psu -> -x.max" "refusals"
expect_err 'varkon: text.txt: neither a MAX archive (no "Ps2PowerSave") nor a PSU archive (no "." and ".." entries), nor a CodeBreaker, SharkPort/X-Port or PSV save; nothing written
varkon: missing.psu: cannot open the file: No such file or directory' "refusals"
expect_no_file text.max

# --check verifies and writes nothing.
mkdir check
cp game.max adv.psu bad.max check/
run varkon --check check/game.max check/adv.psu
expect_status 0 "check"
expect_out_has "check/game.max: MAX archive of BASLUS-20001GAME:" "check"
expect_out_has "CRC ok; sound" "check"
expect_out_has "check/adv.psu: PSU archive of BISLPS-25001ADV:" "check"
run varkon --check check/bad.max
expect_status 1 "check bad crc"
expect_err_has "check/bad.max: BAD CRC" "check bad crc"
[ "$(ls check | wc -l)" -eq 3 ] || fail "check wrote files"

# Real saves from other writers, when this checkout has them (then they must all be there).
if [ ! -d "$REALDATA" ]; then
  echo "real saves skipped: $REALDATA is absent"
else
  cp "$REALDATA/rez.max" "$REALDATA/max-payne.max" . || fail "real saves missing from $REALDATA"
  run varkon --check rez.max max-payne.max
  expect_status 0 "real max"
  run varkon rez.max max-payne.max
  expect_status 0 "real max"
  expect_out "rez.max -> rez.psu
max-payne.max -> max-payne.psu" "real max"

  # The saves of other writers: known by content, each says what it read; the window's reading is the same.
  mkdir foreign && cd foreign
  cp "$REALDATA/rez.cbs" "$REALDATA/rez.xps" "$REALDATA/grandia-ii-usa.psv" . || fail "real saves missing"
  chmod u+w ./*
  mv rez.xps rez-shark.bin
  run varkon rez.cbs rez-shark.bin grandia-ii-usa.psv
  expect_status 0 "foreign"
  expect_out "rez.cbs: CodeBreaker save of BESCES-50501REZ: 3 files -> rez.psu
rez-shark.bin: SharkPort/X-Port save of BESCES-50501REZ: 3 files -> rez-shark.psu
grandia-ii-usa.psv: PSV save of BASLUS-20194G05: 3 files -> grandia-ii-usa.psu" "foreign"
  run varkon --check rez-shark.bin
  expect_status 0 "foreign check"
  expect_out_has "checksum 0x9992800E ok" "foreign check"
  expect_out_has 'file 3 "BESCES-50501REZ": 3072 bytes, mode 0x8497' "foreign check"
  # Damaged: refused with every fault, nothing written; --salvage writes the whole files.
  head -c 2400 rez.cbs > cut.cbs
  run varkon cut.cbs
  expect_status 1 "cut cbs"
  expect_err 'varkon: cut.cbs: CodeBreaker save of BESCES-50501REZ: the compressed body is cut short: the zlib stream stops before its end (13211 of 50588 bytes inflated)
varkon: cut.cbs: file 2 "rez.ico": its data is cut short (12119 of 46360 bytes there)
varkon: cut.cbs: CodeBreaker save of BESCES-50501REZ is damaged; nothing written (--salvage writes the files that are whole)' "cut cbs"
  expect_no_file cut.psu "cut cbs"
  run varkon --salvage cut.cbs
  expect_status 0 "salvage"
  expect_out "cut.cbs: CodeBreaker save of BESCES-50501REZ: 1 file (salvaged) -> cut.psu" "salvage"
  expect_err_has 'file 2 "rez.ico": left out: its data is cut short' "salvage"
  # Its PSU archive beside it: up to date, kept when other (rez.psu of the card), replaced with --force.
  run varkon rez.cbs
  expect_out "rez.cbs: CodeBreaker save of BESCES-50501REZ: 3 files -> rez.psu: up to date" "foreign again"
  cp "$REALDATA/rez.psu" rez.psu && cp rez.psu card-rez.psu
  run varkon rez.cbs
  expect_status 1 "foreign kept"
  expect_err "varkon: rez.psu: exists already with other content; kept (--force or -f replaces it)" "foreign kept"
  expect_same rez.psu card-rez.psu "foreign kept"
  run varkon -f rez.cbs
  expect_status 0 "foreign forced"
  expect_out "rez.cbs: CodeBreaker save of BESCES-50501REZ: 3 files -> rez.psu" "foreign forced"
  # A save whose PSU archive would take its own name is kept, even with --force; a PlayStation save is refused.
  cp rez.cbs same.psu
  run varkon --force same.psu
  expect_status 1 "same path"
  expect_err "varkon: same.psu: a CodeBreaker save named .psu: its PSU archive would replace it, the only copy; kept it (rename it to .cbs to convert it); nothing written" "same path"
  expect_same same.psu rez.cbs "same path"
  cp grandia-ii-usa.psv ps1.psv
  printf '\001' | dd of=ps1.psv bs=1 seek=60 conv=notrunc 2>/dev/null
  run varkon ps1.psv
  expect_err "varkon: ps1.psv: PSV save: a PlayStation save, not a PlayStation 2 save; nothing written" "ps1"
  expect_no_file ps1.psu "ps1"
  cd ..
fi

# Options.
run varkon
expect_status 2 "no files"
expect_err "varkon: no file given
Try 'varkon --help' for more information." "no files"
run varkon --bogus a.psu
expect_status 2 "unknown option"
expect_err_has "unknown option '--bogus'" "unknown option"
run varkon --help
expect_status 0 "help"
expect_out_has "Usage: varkon [-f] [-q] [--salvage] FILE..." "help"
run varkon --version
expect_out "varkon Version 20/05/24" "version"
finish
