#!/usr/bin/env bash
# Two builds' extraction side by side under Wine, alternating run by run:
# `ezpack.exe extract` (check included) and the installer's way
# (`ezbench.exe install`, its check pass left out, as the installer runs
# it behind the agreement page), each fresh and over an unchanged tree.
# Shapes: the shipped one (170 files, 188,802,229 bytes) or 20,000 small
# files (1-16 KB in 200 folders, fixed seed). Medians and after/before.
#
#   tools/bench/ab.sh BEFORE AFTER [shipped|small] [RUNS]
# BEFORE and AFTER are Windows build folders (build/win64, build/win32)
# holding tools/ezpack/ezpack.exe and tools/bench/ezbench.exe; the
# native build packs.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
before=$(cd "$1" && pwd) after=$(cd "$2" && pwd)
shape=${3:-shipped} runs=${4:-3}
arch=x86_64
[[ "$after" == */win32 ]] && arch=i686
source "$root/scripts/wine-session.sh"
wine_session_start "$root" "$arch"
trap wine_session_end EXIT
name="ab-$shape"
work="$WINEPREFIX/drive_c/$name" win="C:\\$name"
mkdir -p "$work"

if [ ! -d "$work/src" ]; then
  case $shape in
    shipped) "$root/build/native/tools/bench/ezbench" generate "$work" 188802229 >/dev/null ;;
    small) python3 "$root/tools/bench/small_tree.py" "$work/src" ;;
    *) echo "ab.sh: shape is shipped or small" >&2; exit 2 ;;
  esac
fi
[ -f "$work/payload.ez" ] || "$root/build/native/tools/ezpack/ezpack" pack "$work/src" "$work/payload.ez" >/dev/null
for side in before after; do
  mkdir -p "$work/$side"
  build=${!side}
  cp "$build/tools/ezpack/ezpack.exe" "$build/tools/bench/ezbench.exe" "$work/$side/"
  cp "$work/payload.ez" "$work/$side/"  # ezbench install reads DIR\payload.ez
done

source "$root/tools/bench/wine_timing.sh"

for side in before after; do for f in tool-fresh tool-again inst-fresh inst-again; do : >"$work/$side/$f"; done; done
for i in $(seq "$runs"); do
  for side in before after; do
    rm -rf "$work/$side/ours" "$work/$side/dst"; sync
    timed "$win\\$side\\ezpack.exe" extract "$win\\payload.ez" "$win\\$side\\ours" >>"$work/$side/tool-fresh"
    timed "$win\\$side\\ezpack.exe" extract "$win\\payload.ez" "$win\\$side\\ours" >>"$work/$side/tool-again"
    timed_installer "$win\\$side" >>"$work/$side/inst-fresh"
    timed_installer "$win\\$side" >>"$work/$side/inst-again"
  done
done
for side in before after; do
  for d in ours dst; do
    diff -r "$work/src" "$work/$side/$d" >/dev/null || { echo "ab.sh: $side/$d differs from the source tree" >&2; exit 1; }
  done
done

echo "$shape shape, $runs alternating runs each, Wine wall seconds ($arch)"
for f in tool-fresh tool-again inst-fresh inst-again; do
  b=$(median <"$work/before/$f") a=$(median <"$work/after/$f")
  printf '%-11s before %6.2f s  after %6.2f s  after/before %.2f  (before: %s; after: %s)\n' "$f" "$b" "$a" \
    "$(echo "$a / $b" | bc -l)" "$(paste -sd' ' "$work/before/$f")" "$(paste -sd' ' "$work/after/$f")"
done
