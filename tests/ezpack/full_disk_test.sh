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

# The record order is fixed: a.txt fits, big.bin fills the volume and is
# removed again when its write fails, so z.txt still finds room.
head -c 600000 /dev/urandom >big.bin
python3 "$here/craft_archive.py" big.ez a.txt = first big.bin = @big.bin z.txt = last || exit 1
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
[ "$code" -eq 1 ] || fail "extract onto a full volume exited $code, expected 1: $(cat err.txt)"
[ "$(wc -l <err.txt)" -eq 1 ] || fail "error is not one line: $(cat err.txt)"
grep -q 'dst.big\.bin: could not be written (1 of 3 records unfinished)$' err.txt ||
  fail "error does not name the file that did not fit: $(cat err.txt)"
[ ! -s out.txt ] || fail "extract without --trace printed: $(head -n 3 out.txt)"
[ "$(cat "$volume/dst/a.txt" 2>/dev/null)" = first ] || fail "a.txt, which fits, was not written"
[ "$(cat "$volume/dst/z.txt" 2>/dev/null)" = last ] || fail "z.txt, which fits once big.bin is gone, was not written"
[ ! -e "$volume/dst/big.bin" ] || fail "a partly written big.bin was left behind"
[ "$(cat "$volume/sentinel.txt")" = 'beside the target' ] || fail "the file beside the target changed"
[ "$(ls -A "$volume" | tr '\n' ' ')" = "dst sentinel.txt " ] || fail "the volume holds more: $(ls -A "$volume")"
[ "$(ls -A "$volume/dst" | tr '\n' ' ')" = "a.txt z.txt " ] || fail "the target holds more: $(ls -A "$volume/dst")"
# Once more with the trace: the write that fails halfway says so in every
# pass, and the file that did not fit is not left behind.
"${ezpack[@]}" extract big.ez "$target" --trace >trace.txt 2>err.txt
if [ -n "$drive" ]; then iconv -f GBK -t UTF-8 trace.txt >trace.utf8 && mv trace.utf8 trace.txt; fi
tr -d '\r' <trace.txt >trace.clean && mv trace.clean trace.txt
[ "$(grep -c 'big\.bin$' trace.txt)" -eq 5 ] || fail "big.bin is not traced in five passes: $(cat trace.txt)"
grep 'big\.bin$' trace.txt | grep -v -q -- '，文件有变化，需要写入，写入失败，尝试删除重写，写入失败！！！  ' &&
  fail "a failed write of big.bin is traced otherwise: $(grep 'big\.bin$' trace.txt | head -n 1)"
[ ! -e "$volume/dst/big.bin" ] || fail "a partly written big.bin was left behind by the traced run"
snapshot >temp-after.txt
cmp -s temp-before.txt temp-after.txt || fail "temp folder changed: $(diff temp-before.txt temp-after.txt)"

[ "$failures" -eq 0 ] || exit 1
echo "ezpack full disk: all checks passed"
