#!/usr/bin/env bash
# Builds the installer with its embedded product and starts it under Wine:
# the shipped i686 wizard where the host runs 32-bit code, the x86_64 twin
# (a test build of the same sources) elsewhere. On a machine without a
# display it runs on a virtual one, saves a screenshot to
# build/run-screenshot.png after a few seconds and stops.
# Extra arguments go to the Windows configures (see README).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/windows-arch.sh"
"$root/scripts/bootstrap.sh"
"$root/scripts/build.sh" "$@"
source "$root/scripts/wine-session.sh"

arch=i686 tree=win32
if ! host_runs_i386; then
  arch=x86_64 tree=win64
  echo "run: this host runs no 32-bit code; showing the x86_64 twin, a test build of the same sources"
else
  echo "run: showing the i686 installer"
fi
headless=0
[ -z "${DISPLAY:-}" ] && headless=1
wine_session_start "$root" "$arch"
trap wine_session_end EXIT
setup="$root/build/$tree/app/VantelPA-Setup.exe"
"${WINE_LOCALE[@]}" "$WINE_LOADER" explorer /desktop=vantel,1024x768 "$setup" >"$root/build/run.log" 2>&1 &
if [ "$headless" -eq 1 ]; then
  sleep "${RUN_SCREENSHOT_AFTER:-6}"
  import -window root "$root/build/run-screenshot.png"
  echo "screenshot: $root/build/run-screenshot.png"
else
  wait
fi
