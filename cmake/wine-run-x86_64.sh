#!/usr/bin/env bash
# wine-run.sh for the x86_64 twin: the 64-bit loader and its own prefix.
exec env VANTEL_WINE_ARCH=x86_64 "$(dirname "$0")/wine-run.sh" "$@"
