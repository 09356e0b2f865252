#!/usr/bin/env bash
# Side-by-side extraction benchmark under Wine: ezpack.exe extract (the
# installer's own extraction) against an installer of the same files built
# by makensis with the zlib compressor, installed silently. Runs alternate
# between the two; medians and their ratio are printed.
#
#   tools/bench/peer.sh [RUNS] [TOTAL_BYTES]
# Needs the native and win32 builds (scripts/build.sh) and Debian's nsis.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
runs=${1:-5}
total=${2:-188802229}
command -v makensis >/dev/null || { echo "peer.sh: makensis missing (apt-get install nsis)" >&2; exit 2; }

source "$root/scripts/wine-session.sh"
wine_session_start "$root"
trap wine_session_end EXIT
drive="$WINEPREFIX/drive_c"
work="$drive/peerbench"
mkdir -p "$work"

# The synthetic tree of the shipped shape, packed both ways.
if [ ! -d "$work/src" ]; then
  "$root/build/native/tools/bench/ezbench" generate "$work" "$total" >/dev/null
fi
[ -f "$work/payload.ez" ] || "$root/build/native/tools/ezpack/ezpack" pack "$work/src" "$work/payload.ez" >/dev/null
cat >"$work/peer.nsi" <<NSI
Unicode true
SetCompressor zlib
RequestExecutionLevel user
OutFile "$work/peer.exe"
InstallDir "C:\\peerbench\\nsis"
Page instfiles
Section
  SetOutPath "\$INSTDIR"
  File /r "$work/src/*.*"
SectionEnd
NSI
[ -f "$work/peer.exe" ] || makensis -V1 "$work/peer.nsi" >/dev/null

ezpack_exe="$root/build/win32/tools/ezpack/ezpack.exe"
cp "$ezpack_exe" "$work/ezpack.exe"
timed() {  # prints seconds of one Wine run
  local start end
  start=$(date +%s.%N)
  "${WINE_LOCALE[@]}" wine "$@" >/dev/null 2>&1 </dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

: >"$work/ours-fresh" ; : >"$work/peer-fresh" ; : >"$work/ours-again" ; : >"$work/peer-again"
for i in $(seq "$runs"); do
  rm -rf "$work/ours" "$work/nsis"; sync
  timed 'C:\peerbench\ezpack.exe' extract 'C:\peerbench\payload.ez' 'C:\peerbench\ours' >>"$work/ours-fresh"
  timed 'C:\peerbench\peer.exe' /S '/D=C:\peerbench\nsis' >>"$work/peer-fresh"
  timed 'C:\peerbench\ezpack.exe' extract 'C:\peerbench\payload.ez' 'C:\peerbench\ours' >>"$work/ours-again"
  timed 'C:\peerbench\peer.exe' /S '/D=C:\peerbench\nsis' >>"$work/peer-again"
done
# Both must have produced the same tree.
diff -r "$work/src" "$work/ours" >/dev/null && diff -r "$work/src" "$work/nsis" >/dev/null ||
  { echo "peer.sh: an extraction differs from the source tree" >&2; exit 1; }

report() {
  local ours peer
  ours=$(median <"$work/ours-$1")
  peer=$(median <"$work/peer-$1")
  printf '%-22s ours %6.2f s   nsis %6.2f s   ratio %.2f   (%d runs each)\n' "$2" "$ours" "$peer" \
    "$(echo "$ours / $peer" | bc -l)" "$runs"
}
report fresh "fresh install"
report again "over an identical one"
# Peak resident memory of one extraction over the identical tree.
peak=$( { /usr/bin/time -f '%M' "${WINE_LOCALE[@]}" wine 'C:\peerbench\ezpack.exe' extract 'C:\peerbench\payload.ez' 'C:\peerbench\ours' >/dev/null 2>/dev/null; } 2>&1 | tail -n 1)
echo "ezpack.exe extract peak resident: $((peak / 1024)) MB"
