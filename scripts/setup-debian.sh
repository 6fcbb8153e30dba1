#!/bin/sh
# setup-debian.sh -- installs what a fresh Debian machine lacks to build and test the PS2 save tools.
# Usage: scripts/setup-debian.sh [minimal]   (minimal: only what the native build and the demo need)
set -eu
# What each package is for (the commands that the scripts, the build and the tests run):
#   g++                     the native compiler; binutils with it: objdump (package_windows_zip, without mingw-w64's)
#   cmake                   cmake, ctest, cpack (build, install_prefix, package_deb, package_windows_zip)
#   ninja-build             ninja, the generator of every build folder
#   libgtest-dev            the unit tests (GoogleTest)
#   libbenchmark-dev        the benchmarks in bench/
#   python3                 help_and_man_pages, scripts/guide-html.py (the guide as HTML), tests/golden/make_golden.sh
#   zlib1g-dev              zlib for the native build: VARKON inflates CodeBreaker saves with it
#   g++-mingw-w64-x86-64    the Windows programs; binutils-mingw-w64-x86-64 with it: windres, x86_64-w64-mingw32-objdump
#   libz-mingw-w64-dev      zlib for the Windows build, linked statically into VARKON.exe
#   wine64                  /usr/lib/wine/wine64 and wineserver: the gui_* tests
#   xvfb                    Xvfb, the X server of each gui_* run
#   xauth                   xvfb-run, to run a Windows program under Xvfb by hand (the tests start Xvfb themselves)
#   fontconfig              fc-list: run_under_wine.sh looks for the Japanese font the dialogs are mapped to
#   fonts-wine              Wine's own fonts (Tahoma, Marlett), copied into the Wine prefix
#   fonts-ipafont-gothic    a Japanese font, so that the dialogs' Japanese texts show in the screenshots
#   imagemagick             convert: the gui_* screenshots from BMP to PNG (the Windows zip's guide pictures)
#   locales                 locale-gen: ja_JP.UTF-8, the locale of the gui_*_ja_JP runs (code page 932)
#   clang, libclang-rt-dev  scripts/fuzz.sh: clang++ and its libFuzzer and sanitizer runtimes
#   cmark-gfm               the guide as HTML in the Windows zip (scripts/guide-html.py)
#   dpkg-dev                dpkg-shlibdeps: the Debian package's dependencies (package_deb)
#   file                    file: cpack's Debian generator finds the programs to give to dpkg-shlibdeps (package_deb)
#   unzip                   unzip: package_windows_zip looks into the zip
#   man-db, groff-base      man -l renders each installed manual page (install_prefix); groff -ww lints them
#                           (help_and_man_pages); without them both checks are left out
# Already on every Debian system (required or essential), so not listed: coreutils (sha256sum, mktemp,
# realpath, ...), diffutils (cmp, diff), findutils (find, xargs), grep, sed, mawk (awk), gzip (the manual
# pages), tar, bash (run_under_wine.sh), dpkg (dpkg-deb: package_deb), libc-bin (ldd: install_prefix),
# mount (mount, umount: fault_tmpfs_cli), util-linux (unshare: fault_tmpfs_cli in a mount namespace of its own).
# sudo is needed only to install when not run as root; it is not installed here.
NATIVE="g++ cmake ninja-build libgtest-dev libbenchmark-dev python3 zlib1g-dev"
# Full: the Windows programs and their tests under Wine (with Wine's own fonts and a Japanese font, so
# the GUI tests' screenshots show the dialogs' texts), fuzzing, and the packages (the guide as HTML for the
# Windows zip, dpkg-shlibdeps for the Debian package's dependencies).
FULL="$NATIVE g++-mingw-w64-x86-64 libz-mingw-w64-dev wine64 xvfb xauth fontconfig imagemagick locales clang \
  libclang-rt-dev fonts-wine fonts-ipafont-gothic cmark-gfm dpkg-dev file unzip man-db groff-base"
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
