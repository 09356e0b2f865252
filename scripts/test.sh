#!/usr/bin/env bash
# Installs what is missing, builds both trees and runs every test: the
# native unit tests, then the Windows unit and end-to-end tests under Wine.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/bootstrap.sh" || exit 1
"$root/scripts/build.sh" || exit 1

source "$root/scripts/wine-session.sh"
logdir="$root/build/test-logs"
mkdir -p "$logdir"

echo "== native tests"
(cd "$root/build/native" && ctest --output-on-failure -j "$(nproc)" "$@") 2>&1 | tee "$logdir/native.log"
native_rc=${PIPESTATUS[0]}

echo "== Windows tests under Wine"
wine_session_start "$root"
trap wine_session_end EXIT
(cd "$root/build/win32" && ctest --output-on-failure "$@") >"$logdir/win32.log" 2>&1
win_rc=$?
cat "$logdir/win32.log"

# One closing line over both runs; a run that failed without a failing
# test (e.g. its test discovery) counts as one failure.
passed=0 failed=0
tally() {
  local log=$1 rc=$2 line f t
  line=$(grep -h -o -E '[0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  f=$(echo "$line" | awk '{print $1 + 0}')
  t=$(echo "$line" | awk '{print $6 + 0}')
  [ "$rc" -ne 0 ] && [ "$f" -eq 0 ] && f=1 && t=$((t + 1))
  passed=$((passed + t - f)) failed=$((failed + f))
}
tally "$logdir/native.log" "$native_rc"
tally "$logdir/win32.log" "$win_rc"
echo "tests: $passed passed, $failed failed"
[ "$native_rc" -eq 0 ] && [ "$win_rc" -eq 0 ] && [ "$passed" -gt 0 ]
