#!/bin/bash
# run_under_wine.sh -- runs one GUI test driver under Wine on a private X server.
#
#   run_under_wine.sh --prepare BUILD_DIR
#       makes the Wine prefix BUILD_DIR/wineprefix once (a CTest fixture does this).
#   run_under_wine.sh DRIVER.exe RUN_NAME BUILD_DIR WINDOWS_BIN [LOCALE] [TEST_NAME_PART...]
#       runs the driver with LC_ALL=LOCALE (default C.UTF-8; ja_JP.UTF-8 gives code page 932) and
#       only the tests registered for that locale; its test folders are under BUILD_DIR/gui-work/RUN_NAME,
#       its screenshots go to BUILD_DIR/screenshots (BMP turned into PNG when ImageMagick is there).
#   run_under_wine.sh --sh SCRIPT BUILD_DIR [ARG...]
#       runs a shell script that starts the console programs itself (tests/cli/golden_cli.sh) with the
#       prefix ready and WINEPREFIX set, on its own Xvfb, with one wineserver kept for the whole run.
#
# Each run has its own Xvfb and ends every Wine process of the prefix when it is done, so runs that
# share the prefix must not overlap (tests/gui_tests.cmake gives them one resource lock).
set -u

WINE=${PS2_WINE:-/usr/lib/wine/wine64}
WINESERVER=${PS2_WINESERVER:-$(dirname "$WINE")/wineserver}

# A Windows path for a Unix path (Wine maps / to drive Z:).
windows_path() {
    local p
    p=$(realpath -m "$1")
    p=${p//\//\\}
    printf 'Z:%s' "$p"
}

XVFB_PID=
start_xvfb() {
    local dispfile
    dispfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$dispfile" 2>/dev/null &
    XVFB_PID=$!
    local i
    for ((i = 0; i < 1000; i++)); do
        if [[ -s $dispfile ]] && grep -q '^[0-9]' "$dispfile"; then break; fi
        if ! kill -0 "$XVFB_PID" 2>/dev/null; then break; fi
        sleep 0.01
    done
    local display
    display=$(head -n1 "$dispfile")
    rm -f "$dispfile"
    if [[ -z $display ]]; then
        echo "run_under_wine: Xvfb did not start" >&2
        return 1
    fi
    export DISPLAY=":$display"
}

cleanup() {
    "$WINESERVER" -k >/dev/null 2>&1
    "$WINESERVER" -w >/dev/null 2>&1
    if [[ -n $XVFB_PID ]]; then
        kill "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
    fi
}

# Fonts for the dialogs. Wine's own fonts (Debian's fonts-wine: Marlett draws the caption buttons, Tahoma
# the captions and menus) are copied into the prefix, where Wine finds them. With a Japanese font
# installed (fonts-ipafont-gothic or fonts-vlgothic), the dialogs' fonts "MS Sans Serif" and "MS UI Gothic"
# are substituted by it, so that screenshots show the Japanese texts instead of boxes; Wine's bitmap
# "MS Sans Serif" is then left out, since an installed font is never substituted.
PREFIX_VERSION=2
install_fonts() {
    local fonts="$WINEPREFIX/drive_c/windows/Fonts" data=/usr/share/wine/fonts cjk="" name
    for name in IPAPGothic "VL PGothic" "Noto Sans CJK JP"; do
        if [[ -n $(fc-list "$name" file 2>/dev/null) ]]; then cjk=$name; break; fi
    done
    mkdir -p "$fonts"
    if [[ -d $data ]]; then
        local f
        for f in "$data"/*; do
            case ${f##*/} in
            sserif* | ssee* | ssef* | ms_sans_serif*) [[ -n $cjk ]] && continue ;;
            esac
            [[ -e $fonts/${f##*/} ]] || cp "$f" "$fonts/"
        done
    fi
    if [[ -n $cjk ]]; then
        local subst='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
        "$WINE" reg add "$subst" /v "MS Sans Serif" /d "$cjk" /f >/dev/null 2>&1
        "$WINE" reg add "$subst" /v "MS UI Gothic" /d "$cjk" /f >/dev/null 2>&1
    fi
}

export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko prompts; and a crashing program ends at once instead of waiting in winedbg.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export WINEARCH=win64

if [[ ${1:-} == --prepare ]]; then
    export WINEPREFIX="$2/wineprefix"
    # The marker holds the version of this set-up; an older prefix is made anew.
    if [[ -f $WINEPREFIX/system.reg && $(cat "$WINEPREFIX/.ps2-ready" 2>/dev/null) == "$PREFIX_VERSION" ]]; then exit 0; fi
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    export LC_ALL=C.UTF-8
    start_xvfb || exit 1
    trap cleanup EXIT
    "$WINE" wineboot --init >/dev/null 2>&1
    # A program that crashes ends at once instead of waiting in the debugger.
    "$WINE" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1
    # One Wine desktop window holds every window and Wine draws their frames and captions, as
    # Windows does (Xvfb has no window manager to draw them).
    "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
    install_fonts
    "$WINESERVER" -w
    if [[ ! -f $WINEPREFIX/system.reg ]]; then
        echo "run_under_wine: the Wine prefix was not made" >&2
        exit 1
    fi
    echo "$PREFIX_VERSION" > "$WINEPREFIX/.ps2-ready"
    exit 0
fi

if [[ ${1:-} == --sh ]]; then
    SCRIPT=$2
    BUILD=$(realpath -m "$3")
    shift 3
    export WINEPREFIX="$BUILD/wineprefix"
    if [[ ! -f $WINEPREFIX/system.reg || $(cat "$WINEPREFIX/.ps2-ready" 2>/dev/null) != "$PREFIX_VERSION" ]]; then
        "$0" --prepare "$BUILD" || exit 1
    fi
    start_xvfb || exit 1
    trap cleanup EXIT
    "$WINESERVER" -p
    sh "$SCRIPT" "$@"
    exit $?
fi

if [[ $# -lt 4 ]]; then
    echo "usage: $0 DRIVER.exe RUN_NAME BUILD_DIR WINDOWS_BIN [LOCALE] [TEST_NAME_PART...]" >&2
    exit 2
fi
DRIVER=$1
RUN_NAME=$2
BUILD=$(realpath -m "$3")
BIN=$4
LOCALE=${5:-}
shift 5 2>/dev/null || shift $#

if [[ ! -f $DRIVER ]]; then
    echo "run_under_wine: $DRIVER is missing (build the Windows programs first)" >&2
    exit 1
fi

export WINEPREFIX="$BUILD/wineprefix"
if [[ ! -f $WINEPREFIX/system.reg || $(cat "$WINEPREFIX/.ps2-ready" 2>/dev/null) != "$PREFIX_VERSION" ]]; then
    "$0" --prepare "$BUILD" || exit 1
fi
export LC_ALL=${LOCALE:-C.UTF-8}

WORK="$BUILD/gui-work/$RUN_NAME"
SHOTS="$BUILD/screenshots"
rm -rf "$WORK"
mkdir -p "$WORK" "$SHOTS"

start_xvfb || exit 1
trap cleanup EXIT

export GUI_BIN GUI_WORK GUI_SHOTS GUI_RUN_LOCALE
GUI_BIN=$(windows_path "$BIN")
GUI_WORK=$(windows_path "$WORK")
GUI_SHOTS=$(windows_path "$SHOTS")
GUI_RUN_LOCALE=$LOCALE

"$WINE" "$DRIVER" "$@"
status=$?

# Screenshots: PNG when ImageMagick is there, else the BMP stays.
if command -v convert >/dev/null 2>&1; then
    for bmp in "$SHOTS"/*.bmp; do
        [[ -e $bmp ]] || continue
        convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
    done
fi
exit $status
