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
