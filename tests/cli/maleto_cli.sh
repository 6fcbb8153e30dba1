# maleto_cli.sh -- the maleto command line: renames, refusals, options, exit statuses
. "$(dirname "$0")/lib.sh"

"$BIN/ps2-samplegen" samples >/dev/null || fail "samplegen"
cp samples/BASLUS-20001GAME.psu a.psu
cp samples/BISLPS-25001ADV.psu b.psu
cp samples/BESLES-50001RACE.psu c.psu
printf 'not a save' > text.txt

run maleto a.psu
expect_status 0 "rename"
expect_out "a.psu -> BASLUS-20001GAME-[My Save].psu" "rename"
expect_file "BASLUS-20001GAME-[My Save].psu"

run maleto --remove-sjis b.psu c.psu
expect_status 0 "remove sjis"
expect_file "BISLPS-25001ADV-[_A_B________].psu"
expect_file "BESLES-50001RACE-[Race; Time Trial_].psu"

cp "BASLUS-20001GAME-[My Save].psu" again.psu
run maleto -q again.psu text.txt missing.psu
expect_status 1 "refusals"
expect_out "" "quiet"
expect_err "maleto: again.psu: not renamed: a file of the new name exists already
maleto: text.txt: not renamed: the save's name has fewer than two characters (not a PSU archive?)
maleto: missing.psu: cannot open the file: No such file or directory" "refusals"
expect_file again.psu

# Linux: the name in the locale's character set, read as Windows reads code page 932; a character without
# a form there as --remove-sjis writes it, with a warning; --sjis-bytes: the Shift_JIS bytes as formed.
ADV='BISLPS-25001ADV-[ＡＢ　セーブ].psu'
cp samples/BISLPS-25001ADV.psu d.psu
LC_ALL=C.UTF-8 run maleto d.psu
expect_out "d.psu -> $ADV" "utf-8"
title=$(($(grep -obUa PS2D "$ADV" | head -n1 | cut -d: -f1) + 0xC6))
printf '\200' | dd of="$ADV" bs=1 seek=$title conv=notrunc 2>/dev/null  # "セ" loses its lead byte
LC_ALL=C.UTF-8 run maleto "$ADV"
expect_out "$ADV -> BISLPS-25001ADV-[ＡＢ　_Zーブ].psu" "broken byte"
expect_err "maleto: warning: $ADV: 1 character of the name has no form in the locale's character set (UTF-8): written as --remove-sjis writes it; --sjis-bytes keeps the Shift_JIS bytes" "broken byte"
cp samples/BISLPS-25001ADV.psu e.psu
LC_ALL=C.UTF-8 run maleto --sjis-bytes e.psu
expect_file "$(printf 'BISLPS-25001ADV-[\202\140\202\141\201\100\203\132\201\133\203\165].psu')" "--sjis-bytes"
mkdir c && cp samples/BISLPS-25001ADV.psu c/f.psu
LC_ALL=C run maleto c/f.psu
expect_file "c/BISLPS-25001ADV-[_A_B________].psu" "C locale"
expect_err_has "6 characters of the name have no form in the locale's character set (ANSI_X3.4-1968)" "C locale"
if [ -d "$REALDATA" ]; then
  for s in kingdom-hearts-japan dot-hack-infection-japan grandia-ii-usa; do cp "$REALDATA/$s.psu" .; done
  LC_ALL=C.UTF-8 run maleto kingdom-hearts-japan.psu dot-hack-infection-japan.psu grandia-ii-usa.psu
  expect_out "kingdom-hearts-japan.psu -> BISLPS-25105-01-[キングダム　　ハーツ　　［０１］離れ小島：浜辺の小屋　　　　　　].psu
dot-hack-infection-japan.psu -> BISLPS-25121DOTHACK-[ドットハック　Ｖｏｌ１～感染拡大～].psu
grandia-ii-usa.psu -> BASLUS-20194G05-[ＧＲＡＮＤＩＡ２＿０６].psu" "real titles"
else
  echo "skipped: the real saves ($REALDATA) are not here"
fi

run maleto --remove-sjis --sjis-bytes a.psu
expect_status 2 "both options"
run maleto
expect_status 2 "no files"
run maleto --bogus a.psu
expect_status 2 "unknown option"
expect_err_has "unknown option '--bogus'"
run maleto --help
expect_status 0 "help"
expect_out_has "Usage: maleto"
run maleto --version
expect_out "maleto Version 20/05/24"
finish
