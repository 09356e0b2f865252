#!/usr/bin/env bash
# usage: small_volume.sh SIZE DIR COMMAND...
# Runs COMMAND with a tmpfs of SIZE mounted on DIR and unmounts it however
# COMMAND ends. Exits 77 (skipped) where no volume can be mounted.
set -u
size=$1 dir=$2
shift 2
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: mounting a small volume needs root"
  exit 77
fi
mkdir -p "$dir" || exit 1
# A run killed before its cleanup leaves its volume behind.
if mountpoint -q "$dir"; then umount "$dir" || umount -l "$dir" || exit 1; fi
if ! mount -t tmpfs -o size="$size",mode=0755 tmpfs "$dir"; then
  echo "SKIPPED: cannot mount a tmpfs on $dir"
  exit 77
fi
child=""
cleanup() {
  [ -n "$child" ] && kill "$child" 2>/dev/null
  # Lazily when a Wine process still holds a file there.
  umount "$dir" 2>/dev/null || umount -l "$dir"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP
# In the background, so a signal reaches the trap without waiting for COMMAND.
"$@" &
child=$!
wait "$child"
code=$?
child=""
exit "$code"
