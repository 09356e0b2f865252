#!/usr/bin/env bash
# Runs a Windows program under Wine with the project's environment:
# a private prefix, no debug noise, code page 936 and a display.
# VANTEL_WINE_ARCH=x86_64 runs the twin, wow64 the i686 images in a 64-bit
# prefix (see wine-arch.sh).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-arch.sh"
wine_arch_select "${VANTEL_WINE_ARCH:-i686}" "$here/../build"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
export DISPLAY="${DISPLAY:-:99}"
# VANTEL_WINE_LANG: another locale for a run on another code page.
lang=${VANTEL_WINE_LANG:-zh_CN.UTF-8}
source "$here/wine-locale.sh"
wine_locale_prepare "$here/../build" "$lang"
exec env LANG="$lang" LC_ALL="$lang" "$WINE_LOADER" "$@"
