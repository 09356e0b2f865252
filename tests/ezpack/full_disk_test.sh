#!/usr/bin/env bash
# usage: full_disk_test.sh WORKDIR VOLUME EZPACK-COMMAND...
# Extracts an archive larger than VOLUME (a small mounted volume, see
# tests/small_volume.sh) into a folder on it. Under Wine the volume is a
# drive letter of the prefix. Output goes to files, never through pipes.
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=$1 volume=$2
shift 2
ezpack=("$@")
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Too big to fit: big.bin alone is larger than the volume.
head -c 600000 /dev/urandom >big.bin
python3 "$here/craft_archive.py" big.ez a.txt = first big.bin = @big.bin z.txt = last || exit 1
# Fits by its bytes, not by the volume's 4 KiB pages: 56 one-byte files take
# 56 of its 64 pages, so mid.bin (12 pages) fills it halfway through and
# is removed again, and z.txt still finds room.
head -c 49152 /dev/urandom >mid.bin
small=()
for i in $(seq -w 0 55); do small+=("s$i.txt" = "$i"); done
python3 "$here/craft_archive.py" pages.ez "${small[@]}" mid.bin = @mid.bin z.txt = last || exit 1
printf 'beside the target' >"$volume/sentinel.txt"

drive=""
if [[ "${ezpack[-1]}" == *.exe ]]; then
  prefix=${WINEPREFIX:-$here/../../build/wineprefix}
  # A letter left by a killed run goes first.
  for link in "$prefix"/dosdevices/?:; do [ "$(readlink "$link")" = "$volume" ] && rm -f "$link"; done
  for letter in x w v u t s r q p o n m; do
    [ -e "$prefix/dosdevices/$letter:" ] || [ -L "$prefix/dosdevices/$letter:" ] || { drive=$letter; break; }
  done
  [ -n "$drive" ] || { echo "FAIL: no free drive letter"; exit 1; }
  ln -s "$volume" "$prefix/dosdevices/$drive:" || exit 1
  trap 'rm -f "$prefix/dosdevices/$drive:"' EXIT
  trap 'exit 143' TERM INT HUP
  target="$drive:\\dst"
  temps=$(find "$prefix/drive_c/users" -maxdepth 4 -type d -name Temp)
else
  export TMPDIR="$work/tmp"
  mkdir -p "$TMPDIR"
  target="$volume/dst"
  temps=$TMPDIR
fi
snapshot() { for t in $temps; do ls -A "$t"; done; }
snapshot >temp-before.txt

"${ezpack[@]}" extract big.ez "$target" >out.txt 2>err.txt
code=$?
tr -d '\r' <err.txt >err.clean && mv err.clean err.txt
[ "$code" -eq 3 ] || fail "extract of more than the volume holds exited $code, expected 3: $(cat err.txt)"
grep -q 'dst: not enough space: need 600009 bytes, [0-9]* free$' err.txt ||
  fail "error does not tell the room needed and free: $(cat err.txt)"
[ "$(ls -A "$volume" | tr '\n' ' ')" = "sentinel.txt " ] || fail "something was made: $(ls -A "$volume")"

"${ezpack[@]}" extract pages.ez "$target" >out.txt 2>err.txt
code=$?
tr -d '\r' <err.txt >err.clean && mv err.clean err.txt
[ "$code" -eq 1 ] || fail "extract onto a volume that fills up exited $code, expected 1: $(cat err.txt)"
[ "$(wc -l <err.txt)" -eq 1 ] || fail "error is not one line: $(cat err.txt)"
grep -q 'dst.mid\.bin: could not be written (1 of 58 records unfinished; the disk is full: need 49152 bytes, [0-9]* free)$' err.txt ||
  fail "error does not name the file that did not fit and the room: $(cat err.txt)"
[ ! -s out.txt ] || fail "extract without --trace printed: $(head -n 3 out.txt)"
[ "$(cat "$volume/dst/s00.txt" 2>/dev/null)" = 00 ] || fail "s00.txt, which fits, was not written"
[ "$(cat "$volume/dst/z.txt" 2>/dev/null)" = last ] || fail "z.txt, which fits once mid.bin is gone, was not written"
[ ! -e "$volume/dst/mid.bin" ] || fail "a partly written mid.bin was left behind"
[ "$(cat "$volume/sentinel.txt")" = 'beside the target' ] || fail "the file beside the target changed"
[ "$(ls -A "$volume" | tr '\n' ' ')" = "dst sentinel.txt " ] || fail "the volume holds more: $(ls -A "$volume")"
[ "$(ls -A "$volume/dst" | wc -l)" -eq 57 ] || fail "the target holds more or less: $(ls -A "$volume/dst")"
snapshot >temp-after.txt
cmp -s temp-before.txt temp-after.txt || fail "temp folder changed: $(diff temp-before.txt temp-after.txt)"

[ "$failures" -eq 0 ] || exit 1
echo "ezpack full disk: all checks passed"
