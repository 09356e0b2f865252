#!/usr/bin/env bash
# usage: killed_test.sh WORKDIR EZPACK
# Extractions killed (SIGKILL) while large records are written, then staging
# files planted as a dead run or a power cut leaves them: the next whole run
# finishes, and the target holds the records and nothing else. Natively only:
# the kill must reach the process that holds the staged files.
set -u
work=$1
ezpack=$2
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Three records of 50-120 MB that zlib cannot shrink: one random MiB repeated
# (the deflate window is 32 KiB), cheap to make and slow enough to write.
mkdir -p src/sub
head -c 1048576 /dev/urandom >block.bin
for entry in 120:big.bin 80:sub/mid.bin 50:sub/small.bin; do
  for _ in $(seq "${entry%%:*}"); do cat block.bin; done >"src/${entry#*:}"
done
"$ezpack" pack src payload >pack.txt 2>&1 || { cat pack.txt; exit 1; }
rm -f block.bin

# True once the process has written a MiB: only staging files take that
# much, so the write pass has begun. Read without forking, to poll fast.
writing() {
  local key value
  while read -r key value; do
    [ "$key" = "wchar:" ] && [ "$value" -gt 1048576 ] && return 0
  done <"/proc/$1/io"
  return 1
} 2>/dev/null

killed=0
for delay in 0 0.1 0.3 0.6; do
  "$ezpack" extract payload.ez dst >run.txt 2>&1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null && ! writing "$pid"; do sleep 0.005; done
  sleep "$delay"
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  code=$?
  [ "$code" -eq 137 ] && killed=$((killed + 1))
  echo "kill after ${delay}s (exit $code): $(find dst -name '.vantel-*.tmp' | wc -l) staging files left"
done
# Earlier kills leave finished records, so a later run may end first; not all of them.
[ "$killed" -gt 0 ] || fail "no run was killed while it wrote"

# What runs that died before unnamed staging files (or on a file system
# without them) leave: a link to a file outside, and a file below.
printf 'outside' >outside.txt
mkdir -p dst/sub
ln -sfn "$PWD/outside.txt" dst/.vantel-0123456789abcdef.tmp
printf 'stale' >dst/sub/.vantel-fedcba9876543210.tmp

"$ezpack" extract payload.ez dst >run.txt 2>&1 || fail "the run after the kills failed: $(cat run.txt)"
[ ! -L dst/.vantel-0123456789abcdef.tmp ] || fail "the planted link was not removed"
[ "$(cat outside.txt)" = outside ] || fail "what the planted link names changed"
left=$(cd dst && find . -mindepth 1 | sort | tr '\n' ' ')
[ "$left" = "./big.bin ./sub ./sub/mid.bin ./sub/small.bin " ] || fail "the target holds: $left"
"$ezpack" verify payload.ez dst >verify.txt 2>&1 || fail "verify after the run: $(cat verify.txt)"

rm -rf src dst payload.ez
[ "$failures" -eq 0 ] || exit 1
echo "killed runs: all checks passed"
