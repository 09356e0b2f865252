#!/usr/bin/env bash
# Installs what is missing, builds the trees and runs every test: the
# native unit tests, then the Windows unit and end-to-end suite under Wine
# on the i686 build where the host runs 32-bit code, on the x86_64 twin
# elsewhere (VANTEL_WINDOWS_ARCH=i686|x86_64|both chooses; see
# scripts/windows-arch.sh). Arguments go to every ctest run.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/windows-arch.sh"
windows_arches || exit 1
"$root/scripts/bootstrap.sh" || exit 1
"$root/scripts/build.sh" || exit 1

source "$root/scripts/wine-session.sh"
logdir="$root/build/test-logs"
mkdir -p "$logdir"
logs=() rcs=()

echo "== native tests"
(cd "$root/build/native" && ctest --output-on-failure -j "$(nproc)" "$@") 2>&1 | tee "$logdir/native.log"
logs+=("$logdir/native.log") rcs+=("${PIPESTATUS[0]}")

for arch in "${WINDOWS_ARCHES[@]}"; do
  label=$(windows_arch_label "$arch")
  echo "== Windows suite: $label${WINDOWS_ARCH_WHY:+ ($WINDOWS_ARCH_WHY)}"
  tree=win32
  [ "$arch" = x86_64 ] && tree=win64
  log="$logdir/$tree.log"
  wine_session_start "$root" "$arch"
  trap wine_session_end EXIT
  (cd "$root/build/$tree" && ctest --output-on-failure "$@") >"$log" 2>&1
  rcs+=("$?") logs+=("$log")
  wine_session_end
  trap - EXIT
  cat "$log"
done

# The shipped images are checked on every host. Where the i686 suite did
# not run, its image checks run on their own: they need no Wine, and ctest
# in their own folder does not ask the other test programs for their tests.
if [[ " ${WINDOWS_ARCHES[*]} " != *" i686 "* ]]; then
  echo "== i686 release image checks"
  log="$logdir/win32-release.log"
  (cd "$root/build/win32/tests/release" && ctest --output-on-failure -E e2e_signed_image "$@") >"$log" 2>&1
  rcs+=("$?") logs+=("$log")
  cat "$log"
fi

# One closing line over every run; a run that failed without a failing
# test (e.g. its test discovery) counts as one failure.
passed=0 failed=0 all_ok=1
tally() {
  local log=$1 rc=$2 line f t
  line=$(grep -h -o -E '[0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  f=$(echo "$line" | awk '{print $1 + 0}')
  t=$(echo "$line" | awk '{print $6 + 0}')
  [ "$rc" -ne 0 ] && [ "$f" -eq 0 ] && f=1 && t=$((t + 1))
  [ "$rc" -ne 0 ] && all_ok=0
  passed=$((passed + t - f)) failed=$((failed + f))
}
for i in "${!logs[@]}"; do tally "${logs[$i]}" "${rcs[$i]}"; done
echo "tests: $passed passed, $failed failed"
[ "$all_ok" -eq 1 ] && [ "$passed" -gt 0 ]
