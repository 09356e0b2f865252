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

# One closing line over both runs.
count() { grep -h -o -E '[0-9]+ tests failed out of [0-9]+' "$logdir"/native.log "$logdir"/win32.log; }
failed=$(count | awk '{s += $1} END {print s + 0}')
total=$(count | awk '{s += $6} END {print s + 0}')
echo "tests: $((total - failed)) passed, $failed failed"
[ "$native_rc" -eq 0 ] && [ "$win_rc" -eq 0 ] && [ "$total" -gt 0 ]
