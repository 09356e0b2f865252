#!/usr/bin/env bash
# One end-to-end run on other Windows settings, in a Wine prefix, a
# wineserver and a virtual display of its own (so it may run inside the
# test session of the default settings).
# usage: variant.sh NAME LOCALE DPI DESKTOP PREFIX ARCH COMMAND...
#   e.g. variant.sh dpi144 zh_CN.UTF-8 144 1600x1200 build/win32/wineprefix-dpi144 i686 \
#          cmake/wine-run.sh e2e_tests.exe
# ARCH is i686, x86_64 or wow64 (cmake/wine-arch.sh); the command's own
# Wine wrapper takes the same one.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -ge 7 ] || { echo "usage: $0 NAME LOCALE DPI DESKTOP PREFIX ARCH COMMAND..." >&2; exit 2; }
name=$1 locale=$2 dpi=$3 desktop=$4 prefix=$5 arch=$6
shift 6
export VANTEL_WINEPREFIX=$prefix VANTEL_WINE_LANG=$locale VANTEL_WINE_DPI=$dpi VANTEL_DESKTOP_SIZE=$desktop
export VANTEL_E2E_VARIANT=$name VANTEL_WINE_ARCH=$arch
unset DISPLAY
mkdir -p "$root/build"
source "$root/scripts/wine-session.sh"
wine_session_start "$root" "$arch"
trap wine_session_end EXIT
"$@"
