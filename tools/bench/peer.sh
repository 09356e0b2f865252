#!/usr/bin/env bash
# Side-by-side extraction benchmark under Wine: our extraction against an
# installer of the same files built by makensis with the zlib compressor,
# installed silently. Ours runs two ways: ezpack.exe extract, which checks
# the stream first, and the installer's way (ezbench.exe install), whose
# check runs behind the agreement page and is timed apart. Runs alternate;
# medians, their ratio and each pair's ratio are printed, then peak memory.
# Shapes: the shipped one (170 files, 188,802,229 bytes) or 20,000 small
# files (1-16 KB in 200 folders, fixed seed; tools/bench/small_tree.py).
#
#   tools/bench/peer.sh [shipped|small] [RUNS]
#   tools/bench/peer.sh RUNS [TOTAL_BYTES]    the shipped shape, another size
# Needs the native and win32 builds (scripts/build.sh) and Debian's nsis.
# Where the host runs no 32-bit code, ours runs as the x86_64 twin
# (build/win64, 64-bit Wine) and the NSIS side, a 32-bit program, is left out.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
shape=shipped total=188802229
case ${1:-} in
  shipped|small) shape=$1 runs=${2:-5} ;;
  *) runs=${1:-5} total=${2:-$total} ;;
esac
[[ "$runs" =~ ^[1-9][0-9]*$ && "$total" =~ ^[1-9][0-9]*$ ]] ||
  { echo "usage: peer.sh [shipped|small] [RUNS]  or  peer.sh RUNS [TOTAL_BYTES]" >&2; exit 2; }
source "$root/scripts/windows-arch.sh"
if host_runs_i386; then
  arch=i686 build=win32 nsis=1
else
  arch=x86_64 build=win64 nsis=0
fi
if [ "$nsis" -eq 1 ]; then
  command -v makensis >/dev/null || { echo "peer.sh: makensis missing (apt-get install nsis)" >&2; exit 2; }
fi

source "$root/scripts/wine-session.sh"
wine_session_start "$root" "$arch"
trap wine_session_end EXIT
drive="$WINEPREFIX/drive_c"
name="peerbench-$total"
if [ "$shape" = small ]; then name="peerbench-small"; fi
win="C:\\$name"
work="$drive/$name"
mkdir -p "$work"

# The synthetic tree, packed both ways; the installer takes it whole with
# its folders (File /r).
if [ ! -d "$work/src" ]; then
  case $shape in
    shipped) "$root/build/native/tools/bench/ezbench" generate "$work" "$total" >/dev/null ;;
    small) python3 "$root/tools/bench/small_tree.py" "$work/src" ;;
  esac
fi
[ -f "$work/payload.ez" ] || "$root/build/native/tools/ezpack/ezpack" pack "$work/src" "$work/payload.ez" >/dev/null
if [ "$nsis" -eq 1 ]; then
  cat >"$work/peer.nsi" <<NSI
Unicode true
SetCompressor zlib
RequestExecutionLevel user
OutFile "$work/peer.exe"
InstallDir "$win\\nsis"
Page instfiles
Section
  SetOutPath "\$INSTDIR"
  File /r "$work/src/*.*"
SectionEnd
NSI
  [ -f "$work/peer.exe" ] || makensis -V1 "$work/peer.nsi" >/dev/null
fi

cp "$root/build/$build/tools/ezpack/ezpack.exe" "$root/build/$build/tools/bench/ezbench.exe" "$work/"
source "$root/tools/bench/wine_timing.sh"

for f in tool-fresh tool-again inst-fresh inst-again peer-fresh peer-again; do : >"$work/$f"; done
for i in $(seq "$runs"); do
  rm -rf "$work/ours" "$work/dst" "$work/nsis"; sync
  timed "$win\\ezpack.exe" extract "$win\\payload.ez" "$win\\ours" >>"$work/tool-fresh"
  timed_installer "$win" >>"$work/inst-fresh"
  [ "$nsis" -eq 0 ] || timed "$win\\peer.exe" /S "/D=$win\\nsis" >>"$work/peer-fresh"
  timed "$win\\ezpack.exe" extract "$win\\payload.ez" "$win\\ours" >>"$work/tool-again"
  timed_installer "$win" >>"$work/inst-again"
  [ "$nsis" -eq 0 ] || timed "$win\\peer.exe" /S "/D=$win\\nsis" >>"$work/peer-again"
done
# Every extraction must have produced the source tree.
trees="ours dst"
[ "$nsis" -eq 0 ] || trees="$trees nsis"
for d in $trees; do
  diff -r "$work/src" "$work/$d" >/dev/null || { echo "peer.sh: $d differs from the source tree" >&2; exit 1; }
done

# Medians, their ratio, and the ratio of each alternating pair.
report() {
  local ours peer pairs
  ours=$(median <"$work/$1")
  if [ "$nsis" -eq 0 ]; then
    printf '%-44s ours %5.2f s\n' "$3" "$ours"
    return
  fi
  peer=$(median <"$work/peer-$2")
  pairs=$(paste -d' ' "$work/$1" "$work/peer-$2" | awk '{printf "%s%.2f", (NR > 1 ? " " : ""), $1 / $2}')
  printf '%-44s ours %5.2f s  nsis %5.2f s  ratio %.2f  pairs: %s\n' "$3" "$ours" "$peer" \
    "$(echo "$ours / $peer" | bc -l)" "$pairs"
}
if [ "$shape" = small ]; then
  echo "small shape, 20000 files of 1-16 KB in 200 folders, $runs alternating runs each, Wine wall seconds ($arch)"
else
  echo "shipped shape, $total bytes, $runs alternating runs each, Wine wall seconds ($arch)"
fi
[ "$nsis" -eq 1 ] || echo "nsis: left out, this host runs no 32-bit code and the NSIS installer is a 32-bit program"
report tool-fresh fresh "fresh, ezpack.exe extract (check included)"
report inst-fresh fresh "fresh, the installer's way (check aside)"
report tool-again again "unchanged, ezpack.exe extract (check incl.)"
report inst-again again "unchanged, the installer's way (check aside)"

# Peak resident set of ezpack.exe extract (fresh), sampled from /proc;
# only this run's process, named by its folder, as other prefixes may
# extract meanwhile.
rm -rf "$work/ours"
run_wine "$win\\ezpack.exe" extract "$win\\payload.ez" "$win\\ours" >/dev/null &
launcher=$!
hwm=0
while kill -0 "$launcher" 2>/dev/null; do
  for pid in $(pgrep -f -- "$name.ezpack\.exe extract" || true); do
    kb=$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
    [ -n "$kb" ] && [ "$kb" -gt "$hwm" ] && hwm=$kb
  done
  sleep 0.01
done
wait "$launcher"
echo "ezpack.exe extract peak resident: $((hwm / 1024)) MB"
# The installer's way, fresh, as the process itself reports its peak.
rm -rf "$work/dst"
run_wine "$win\\ezbench.exe" install "$win" | sed 's/^/installer way: /'
