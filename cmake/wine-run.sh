#!/usr/bin/env bash
# Runs a Windows program under Wine with the project's environment:
# a private prefix, no debug noise, code page 936 and a display.
set -u
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX="${WINEPREFIX:-$here/../build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
export DISPLAY="${DISPLAY:-:99}"
# VANTEL_WINE_LANG: another locale for a run on another code page.
lang=${VANTEL_WINE_LANG:-zh_CN.UTF-8}
source "$here/wine-locale.sh"
wine_locale_prepare "$here/../build" "$lang"
exec env LANG="$lang" LC_ALL="$lang" wine "$@"
