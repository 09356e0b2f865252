#!/usr/bin/env bash
# Runs a Windows program under Wine with the project's environment:
# a private prefix, no debug noise, code page 936 and a display.
# VANTEL_WINE_ARCH=x86_64 runs the twin (see wine-arch.sh).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-arch.sh"
wine_arch_select "${VANTEL_WINE_ARCH:-i686}" "$here/../build"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
export DISPLAY="${DISPLAY:-:99}"
source "$here/wine-locale.sh"
wine_locale_prepare "$here/../build"
exec env LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 "$WINE_LOADER" "$@"
