#!/usr/bin/env bash
# usage: root_sandbox.sh posix|wine SCRATCH COMMAND...
# Runs COMMAND where every root it can name belongs to SCRATCH, so a test
# of a destructive routine that goes wrong wipes only that:
# - posix: in a private mount namespace, chrooted into a tmpfs on SCRATCH
#   that holds copies of the program and what it loads;
# - wine: with a spare drive letter of the prefix mapped to SCRATCH.
# Each root gets markers the test checks (vantel-root-sandbox, keep\file.txt);
# VANTEL_ROOT_SANDBOX names the drive letter the test may use.
# Exits 77 (skipped) where no sandbox can be made.
set -u
mode=$1 scratch=$2
shift 2

markers() {
  mkdir -p "$1/keep" && touch "$1/vantel-root-sandbox" "$1/keep/file.txt"
}

posix_sandbox() {
  if ! unshare -rm true 2>/dev/null; then
    echo "SKIPPED: no private mount namespace"
    exit 77
  fi
  mkdir -p "$scratch" || exit 1
  # A plain text (not a chroot) runs the commands below in the namespace.
  unshare -rm bash -s "$scratch" "$@" <<'INNER'
set -eu
root=$1
shift
mount -t tmpfs -o size=256m tmpfs "$root"
copy() { mkdir -p "$root$(dirname "$1")" && cp -L "$1" "$root$1"; }
copy "$1"
for lib in $(ldd "$1" | grep -o '/[^ ]*'); do copy "$lib"; done
# The converters for GBK names lie beside the C library the program loads.
libc=$(ldd "$1" | grep -o '/[^ ]*/libc\.so[^ ]*' | head -n 1)
gconv=$(dirname "$(realpath "$libc")")/gconv
mkdir -p "$root$gconv" && cp -r "$gconv/." "$root$gconv/"
mkdir -p "$root/tmp"
mkdir -p "$root/keep" && touch "$root/vantel-root-sandbox" "$root/keep/file.txt"
# "C:\" is a path relative to the current folder here: a root of its own.
mkdir -p "$root/C:/keep" && touch "$root/C:/vantel-root-sandbox" "$root/C:/keep/file.txt"
exec env -i VANTEL_ROOT_SANDBOX=C "$(command -v chroot)" "$root" "$@"
INNER
  local code=$?
  rmdir "$scratch" 2>/dev/null
  exit "$code"
}

wine_sandbox() {
  local prefix=${WINEPREFIX:-$(cd "$(dirname "$0")/.." && pwd)/build/wineprefix}
  local devices=$prefix/dosdevices letter=""
  for l in r q p o n m; do
    if [ ! -e "$devices/$l:" ] && [ ! -L "$devices/$l:" ]; then letter=$l && break; fi
  done
  if [ ! -d "$devices" ] || [ -z "$letter" ]; then
    echo "SKIPPED: no prefix or no spare drive letter"
    exit 77
  fi
  rm -rf "$scratch" && mkdir -p "$scratch" && markers "$scratch" || exit 1
  # Expanded now: the function's variables are gone when the trap runs.
  trap "rm -f '$devices/$letter:'; rm -rf '$scratch'" EXIT
  trap 'exit 143' TERM INT HUP
  ln -s "$scratch" "$devices/$letter:" || exit 1
  VANTEL_ROOT_SANDBOX=${letter^^} "$@"
}

case $mode in
  posix) posix_sandbox "$@" ;;
  wine) wine_sandbox "$@" ;;
  *) echo "usage: root_sandbox.sh posix|wine SCRATCH COMMAND..." && exit 2 ;;
esac
