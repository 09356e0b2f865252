#!/usr/bin/env bash
# Builds the installer with its embedded product and starts it under Wine.
# On a machine without a display it runs on a virtual one, saves a
# screenshot to build/run-screenshot.png after a few seconds and stops.
# Extra arguments go to the win32 configure (see README).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/bootstrap.sh"
"$root/scripts/build.sh" "$@"
source "$root/scripts/wine-session.sh"

headless=0
[ -z "${DISPLAY:-}" ] && headless=1
wine_session_start "$root"
trap wine_session_end EXIT
setup="$root/build/win32/app/VantelPA-Setup.exe"
"${WINE_LOCALE[@]}" wine explorer /desktop=vantel,1024x768 "$setup" >"$root/build/run.log" 2>&1 &
if [ "$headless" -eq 1 ]; then
  sleep "${RUN_SCREENSHOT_AFTER:-6}"
  import -window root "$root/build/run-screenshot.png"
  echo "screenshot: $root/build/run-screenshot.png"
else
  wait
fi
