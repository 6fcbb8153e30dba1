#!/bin/sh
# setup-debian.sh -- installs what a fresh Debian machine lacks to build and test the PS2 save tools.
# Usage: scripts/setup-debian.sh [minimal]   (minimal: only what the native build and the demo need)
set -eu
NATIVE="g++ cmake ninja-build libgtest-dev libbenchmark-dev zlib1g-dev python3"
# zlib inflates CodeBreaker saves (VARKON); the Windows programs link the mingw-w64 build of it statically.
# Full: the Windows programs and their tests under Wine (with Wine's own fonts and a Japanese font, so
# the GUI tests' screenshots show the dialogs' texts), fuzzing, and the packages (the guide as HTML for the
# Windows zip, dpkg-shlibdeps for the Debian package's dependencies).
FULL="$NATIVE g++-mingw-w64-x86-64 libz-mingw-w64-dev wine64 xvfb xauth imagemagick locales clang libclang-rt-dev \
  fonts-wine fonts-ipafont-gothic cmark-gfm dpkg-dev unzip"
want=$FULL
[ "${1:-}" = minimal ] && want=$NATIVE

missing=""
for p in $want; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
if [ -n "$missing" ]; then
  echo "installing:$missing"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
# Wine takes the ANSI code page from the locale: ja_JP.UTF-8 gives code page 932.
if [ "$want" = "$FULL" ] && ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
  echo "generating the ja_JP.UTF-8 locale"
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
