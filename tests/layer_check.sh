# layer_check.sh -- the layer rules, checked on the sources: what each file may include, and names that
# are unique across the tree. Run as: sh layer_check.sh <source-dir>. Lists every breach, then fails.
#
# Layers, lowest first; a file includes only headers of its own layer or a lower one:
#   core      every other .h/.cpp of the product folders: formats and algorithms over bytes
#   platform  common/platform.h, platform_faults.h, platform_*.cpp, process_*.cpp
#   handler   *_handler.*, droprun/presetfile.*, common/report.h
#   front end *_cli.cpp, *_win32.cpp, common/cli.*, common/tool_window.h, resources/
# Folders: a file includes headers of its own folder, of common/, and of the folders named here:
#   card/ for cardbuild/ and cardsplit/; resources/ for front ends.
# System headers: only *_posix.cpp, *_win32.cpp, common/tool_window.h and resources/ include them;
# every other file includes from <> only the C++ standard library (<vector>, <cstdio>: no ".h", no "/"),
# the compiler's vector intrinsics (<emmintrin.h>, <immintrin.h>: no system calls behind them), and one
# library header: maxconv/cbs_format.cpp includes <zlib.h> (inflate works on memory alone).
# Names: no two files have the same name, except CMakeLists.txt and the data of tests/golden/,
# fuzz/corpus/ and samples/.
set -u
SRC=$1
cd "$SRC" || exit 1
FOLDERS="common card cardbuild cardsplit maxconv unpack rename droprun tools resources"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  FILES=$(git ls-files --cached --others --exclude-standard)
else
  FILES=$(find . -path './build*' -prune -o -path './.git' -prune -o -type f -print | sed 's|^\./||')
fi

status=0
for dir in $FOLDERS; do
  printf '%s\n' "$FILES" | grep -E "^$dir/[^/]+\.(h|cpp|rc)$"
done | xargs grep -nE '^[[:space:]]*#[[:space:]]*include' /dev/null | awk '
function layer(f) {
  if (f ~ /^common\/(platform\.h|platform_faults\.h|platform_[a-z0-9]+\.cpp|process_[a-z0-9]+\.cpp)$/) return 2
  if (f ~ /_handler\.(h|cpp)$/ || f ~ /^droprun\/presetfile\./ || f == "common/report.h") return 3
  if (f ~ /_(cli|win32)\.cpp$/ || f ~ /^common\/(cli\.(h|cpp)|tool_window\.h)$/ || f ~ /^resources\//) return 4
  return 1
}
function folder(f) { sub(/\/.*/, "", f); return f }
function allowed(from, to) {
  if (to == folder(from) || to == "common") return 1
  if (to == "card" && (folder(from) == "cardbuild" || folder(from) == "cardsplit")) return 1
  return to == "resources" && layer(from) == 4
}
function breach(text) { printf "%s:%s: %s\n", file, line, text; bad = 1 }
BEGIN { split("core platform handler front-end", NAME, " ") }
{
  split($0, part, ":"); file = part[1]; line = part[2]; n++
  if (!match($0, /include[[:space:]]*[<"][^>"]+[>"]/)) { breach("an include this check cannot read"); next }
  target = substr($0, RSTART, RLENGTH); sub(/include[[:space:]]*/, "", target)
  name = substr(target, 2, length(target) - 2)
  system_ok = file ~ /_(posix|win32)\.cpp$/ || file == "common/tool_window.h" || file ~ /^resources\// ||
              (file == "maxconv/cbs_format.cpp" && target == "<zlib.h>")
  if (target ~ /^</) {
    if (!system_ok && name !~ /^[a-z_]+$/ && name !~ /^[a-z0-9]+intrin\.h$/)
      breach("a " NAME[layer(file)] " file includes the system header " target ": only platform and window files do")
    next
  }
  if (name == "ps2_version.h" && layer(file) == 4) next # made by CMake in the build folder
  if (file ~ /^resources\// && name !~ /\//) name = "resources/" name
  if (!allowed(file, folder(name)))
    breach("a file of " folder(file) "/ includes " name ": " folder(file) "/ takes headers of its own folder and common/ only" \
           (folder(file) ~ /^card(build|split)$/ ? " (and card/)" : ""))
  else if (layer(name) > layer(file))
    breach("a " NAME[layer(file)] " file includes the " NAME[layer(name)] " header " name)
}
END { if (bad) exit 1; printf "layer check: %d includes of the product folders keep to the layers\n", n }
' || status=1

dups=$(printf '%s\n' "$FILES" | grep -vE '(^|/)CMakeLists\.txt$|^(tests/golden|fuzz/corpus|samples)/' |
       awk -F/ '{ print $NF }' | sort | uniq -d)
if [ -n "$dups" ]; then
  for d in $dups; do
    echo "the name $d is used more than once (give each file a name of its own):"
    printf '%s\n' "$FILES" | grep -E "(^|/)$d$" | sed 's/^/  /'
  done
  status=1
fi
exit $status
