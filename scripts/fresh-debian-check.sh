#!/bin/sh
# fresh-debian-check.sh -- runs the README's two commands (scripts/demo.sh, then scripts/test-all.sh) on a
# fresh, minimal Debian: makes a root with `debootstrap --variant=minbase` from this machine's own apt
# sources, copies the working tree into it (as /root/ps2-save-tools) with ../shared beside it, mounts what
# the tests need, and runs each command there as root in a clean environment (env -i: PATH, HOME, USER,
# LOGNAME, SHELL, LANG=C.UTF-8, as a fresh root login has them). Prints each command's result and time;
# exits 0 only if every command it ran passed. Everything it mounted is unmounted on every way out.
# Run it (as root) after any change to the set-up, the packages or the scripts; it is not part of .ci/run.
#
# Usage: scripts/fresh-debian-check.sh [--keep] [--root DIR] [--only demo|test-all] [--suite SUITE]
#   --root DIR   make the root at DIR, or reuse the root that DIR holds (its installed packages stay, so the
#                check is then no longer of a fresh machine; the tree is copied anew)
#   --keep       keep the root afterwards (a root this run made is removed otherwise)
#   --only CMD   run only scripts/demo.sh (demo) or only scripts/test-all.sh (test-all)
#   --suite S    the Debian release of the root (default: bookworm)
# Environment: JOBS and FUZZ_SECONDS are handed on to the commands. Each command's output is shown and
# kept in <root>.<command>.log beside the root.
set -eu
SRC=$(cd "$(dirname "$0")/.." && pwd)
ROOT="" KEEP=0 ONLY="" SUITE=bookworm
usage() { sed -n '10,17p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
while [ $# -gt 0 ]; do
  case $1 in
    --keep) KEEP=1 ;;
    --root) [ $# -ge 2 ] || usage; ROOT=$2; shift ;;
    --only) [ $# -ge 2 ] || usage; ONLY=$2; shift ;;
    --suite) [ $# -ge 2 ] || usage; SUITE=$2; shift ;;
    -h | --help) usage ;;
    *) echo "fresh-debian-check: unknown argument '$1'" >&2; usage ;;
  esac
  shift
done
case $ONLY in
  "") COMMANDS="demo test-all" ;;
  demo | test-all) COMMANDS=$ONLY ;;
  *) echo "fresh-debian-check: --only takes demo or test-all, not '$ONLY'" >&2; exit 2 ;;
esac
if [ "$(id -u)" -ne 0 ]; then
  echo "fresh-debian-check: needs root (debootstrap, chroot and mount): run it with sudo" >&2
  exit 2
fi

# The root: a new folder, or the one named. A folder that is neither empty nor a Debian root is refused,
# and so is a root with something mounted in it already (an earlier run cut short): nothing of it is touched.
MADE=0
if [ -z "$ROOT" ]; then
  ROOT=$(mktemp -d "${TMPDIR:-/var/tmp}/ps2-fresh-debian.XXXXXX")
  MADE=1
else
  mkdir -p "$ROOT"
  ROOT=$(cd "$ROOT" && pwd)
fi
case $ROOT in
  / | /bin | /boot | /dev | /etc | /home | /proc | /root | /sys | /tmp | /usr | /var | /var/tmp | /work)
    echo "fresh-debian-check: --root $ROOT is a system folder: name a folder of its own" >&2; exit 2 ;;
esac
mounted_below() { awk -v r="$ROOT/" 'index($2, r) == 1 { print $2 }' /proc/mounts; }
if [ -n "$(mounted_below)" ]; then
  echo "fresh-debian-check: something is mounted in $ROOT already (an earlier run?):" "$(mounted_below | tr "\n" " ")" >&2
  echo "  unmount it first (umount PATH), then run this again" >&2
  exit 1
fi
REUSE=0
if [ -x "$ROOT/usr/bin/apt-get" ] && [ -f "$ROOT/etc/debian_version" ] && [ ! -d "$ROOT/debootstrap" ]; then
  REUSE=1
elif [ -n "$(ls -A "$ROOT")" ]; then
  echo "fresh-debian-check: $ROOT is not empty and holds no whole Debian root (a debootstrap cut short?):" >&2
  echo "  remove it or name another folder" >&2
  exit 1
else
  MADE=1
  chmod 755 "$ROOT" # the root's "/": its system users (apt's _apt) must get through it
fi

# Every mount is noted, and undone in reverse order on the way out, after the processes still running
# in the root (a Wine server, an X server) are ended. The root is removed only when this run made it,
# --keep was not given and nothing is mounted in it any more.
MOUNTS=""
cleanup() {
  status=$?
  trap - EXIT INT TERM HUP
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$ROOT" ] && kill -9 "${p#/proc/}" 2>/dev/null
  done
  for m in $MOUNTS; do
    umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || echo "fresh-debian-check: could not unmount $m" >&2
  done
  MOUNTS=""
  if [ "$MADE" = 1 ] && [ "$KEEP" = 0 ]; then
    if [ -z "$(mounted_below)" ]; then
      rm -rf --one-file-system "$ROOT"
    else
      echo "fresh-debian-check: $ROOT left in place: still mounted there:" "$(mounted_below | tr "\n" " ")" >&2
    fi
  else
    echo "the root stays in $ROOT (run again with --root $ROOT to reuse it)"
  fi
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
mount_in() { # mount_in TARGET MOUNT-ARGS...: mounts on $ROOT/TARGET and notes it
  target=$ROOT/$1
  shift
  mkdir -p "$target"
  mount "$@" "$target"
  MOUNTS="$target $MOUNTS"
}

# This machine's apt sources: the entries of its Debian release (suites SUITE, SUITE-updates,
# SUITE-security, SUITE/updates), in the one-line and the deb822 form; other repositories are left out,
# as a fresh machine lacks them.
one_line_sources() {
  cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
    awk -v s="$SUITE" '{ line = $0; sub(/\[[^]]*\]/, "", line); split(line, f) }
      (f[1] == "deb" || f[1] == "deb-src") && (f[3] == s || index(f[3], s "-") == 1 || index(f[3], s "/") == 1)'
}
deb822_sources() {
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk -v s="$SUITE" '
      function flush() { if (para != "" && keep && !off) printf "%s\n", para; para = ""; keep = 0; off = 0 }
      /^[ \t]*$/ { flush(); next }
      /^#/ { next }
      { para = para $0 "\n" }
      tolower($1) == "suites:" { for (i = 2; i <= NF; i++) if ($i == s || index($i, s "-") == 1 || index($i, s "/") == 1) keep = 1 }
      tolower($1) == "enabled:" && tolower($2) == "no" { off = 1 }
      END { flush() }' "$f"
  done
}
LINES=$(one_line_sources)
DEB822=$(deb822_sources)
# The mirror debootstrap fetches from: the first "deb" entry of the release itself.
MIRROR=$(printf '%s\n' "$LINES" | awk -v s="$SUITE" '{ sub(/\[[^]]*\]/, "") } $1 == "deb" && $3 == s { print $2; exit }')
if [ -z "$MIRROR" ]; then
  MIRROR=$(printf '%s\n' "$DEB822" | awk -v s="$SUITE" '
    /^[ \t]*$/ { if (deb && suite && uri != "") { print uri; exit } deb = suite = 0; uri = ""; next }
    tolower($1) == "types:" { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
    tolower($1) == "suites:" { for (i = 2; i <= NF; i++) if ($i == s) suite = 1 }
    tolower($1) == "uris:" { uri = $2 }
    END { if (deb && suite && uri != "") print uri }' | head -n1)
fi
if [ -z "$MIRROR" ]; then
  echo "fresh-debian-check: this machine's apt sources name no $SUITE mirror (/etc/apt/sources.list, /etc/apt/sources.list.d/)" >&2
  echo "  add one, or name the release they hold with --suite" >&2
  exit 1
fi
# How this machine reaches it: its apt settings for fetching (Acquire::..., a proxy among them) go into
# the root too, and debootstrap, which fetches with wget, is given the proxy.
ACQUIRE_FILES=$(grep -l 'Acquire' /etc/apt/apt.conf /etc/apt/apt.conf.d/* 2>/dev/null || true)
PROXY=""
eval "$(apt-config shell PROXY Acquire::http::Proxy)"
if [ -n "$PROXY" ] && [ "$PROXY" != DIRECT ] && [ -z "${http_proxy:-}" ]; then export http_proxy="$PROXY"; fi

now() { date +%s; }
SUMMARY=""
note() { SUMMARY="$SUMMARY$1
"; echo "== $1"; }

if [ $REUSE = 1 ]; then
  note "reusing the $(cat "$ROOT/etc/debian_version") root in $ROOT (its packages stay installed)"
else
  if ! command -v debootstrap >/dev/null 2>&1; then
    echo "== installing debootstrap"
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
  fi
  echo "== making a minimal $SUITE root in $ROOT from $MIRROR"
  t0=$(now)
  if ! debootstrap --variant=minbase "$SUITE" "$ROOT" "$MIRROR" >"$ROOT.debootstrap.log" 2>&1; then
    tail -20 "$ROOT.debootstrap.log"
    [ -f "$ROOT/debootstrap/debootstrap.log" ] && tail -20 "$ROOT/debootstrap/debootstrap.log"
    echo "fresh-debian-check: debootstrap failed (log: $ROOT.debootstrap.log)" >&2
    exit 1
  fi
  rm -f "$ROOT.debootstrap.log"
  note "minimal $SUITE root made in $(( $(now) - t0 )) s: $ROOT"
fi

# The root's apt: this machine's sources and fetch settings, with the keyrings those sources name.
rm -f "$ROOT/etc/apt/sources.list" "$ROOT"/etc/apt/sources.list.d/fresh-check.*
[ -z "$LINES" ] || printf '%s\n' "$LINES" >"$ROOT/etc/apt/sources.list.d/fresh-check.list"
[ -z "$DEB822" ] || printf '%s\n' "$DEB822" >"$ROOT/etc/apt/sources.list.d/fresh-check.sources"
for k in $(printf '%s\n%s\n' "$LINES" "$DEB822" | grep -io 'signed-by[:=] *[^] ]*' | sed 's/^[^:=]*[:=] *//' | grep '^/' || true); do
  [ -f "$k" ] && [ ! -e "$ROOT$k" ] && mkdir -p "$ROOT$(dirname "$k")" && cp "$k" "$ROOT$k"
done
for f in $ACQUIRE_FILES; do
  if [ "$f" = /etc/apt/apt.conf ]; then cp "$f" "$ROOT/etc/apt/apt.conf"; else cp "$f" "$ROOT/etc/apt/apt.conf.d/"; fi
done
cp -L /etc/resolv.conf "$ROOT/etc/resolv.conf"

# The working tree (what git tracks, and new files it does not ignore; without git: the tree without its
# build folders) and ../shared beside it.
PROJECT=$ROOT/root/ps2-save-tools
rm -rf --one-file-system "$PROJECT" "$ROOT/root/shared"
mkdir -p "$PROJECT"
if command -v git >/dev/null 2>&1 && git -C "$SRC" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git -C "$SRC" ls-files -z -co --exclude-standard | (cd "$SRC" && tar --null -T - --ignore-failed-read -cf - 2>/dev/null) |
    tar -xf - -C "$PROJECT"
else
  (cd "$SRC" && tar --exclude='./build*' --exclude=./demo --exclude=./.git -cf - .) | tar -xf - -C "$PROJECT"
fi
if [ -d "$SRC/../shared" ]; then
  cp -a "$SRC/../shared" "$ROOT/root/shared"
  shared="with ../shared"
else
  shared="without ../shared (the tests that read it are skipped)"
fi
note "tree copied: $(find "$PROJECT" -type f | wc -l) files, $shared"

mount_in proc -t proc proc
mount_in sys --bind /sys
mount --make-private "$ROOT/sys"
mount_in dev --bind /dev
mount --make-private "$ROOT/dev"
mount_in dev/pts --bind /dev/pts
mount --make-private "$ROOT/dev/pts"
mount_in dev/shm -t tmpfs -o mode=1777 tmpfs
mount_in tmp -t tmpfs -o mode=1777 tmpfs

FAILED=0
for c in $COMMANDS; do
  log=$ROOT.$c.log
  echo "== scripts/$c.sh in the root"
  t0=$(now)
  rcfile=$ROOT/tmp/.fresh-check-status
  rm -f "$rcfile"
  # In the background, so that a signal to this script is acted on at once (the shell waits out a command
  # in the foreground before it runs a trap); the way out then ends what still runs in the root.
  { chroot "$ROOT" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      HOME=/root USER=root LOGNAME=root SHELL=/bin/sh LANG=C.UTF-8 ${JOBS:+JOBS=$JOBS} \
      ${FUZZ_SECONDS:+FUZZ_SECONDS=$FUZZ_SECONDS} /bin/sh -c "cd /root/ps2-save-tools && exec scripts/$c.sh" \
      </dev/null 2>&1
    echo $? >"$rcfile"; } | tee "$log" &
  wait $!
  rc=$(cat "$rcfile" 2>/dev/null || echo "unknown")
  took=$(( $(now) - t0 ))
  if [ "$rc" = 0 ]; then
    note "scripts/$c.sh: passed in $took s (log: $log)"
  else
    note "scripts/$c.sh: FAILED with exit status $rc after $took s (log: $log)"
    FAILED=1
  fi
done

echo
echo "fresh Debian check ($SUITE, minbase, from $MIRROR):"
printf '%s' "$SUMMARY" | sed 's/^/  /'
exit $FAILED
