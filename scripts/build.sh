#!/usr/bin/env bash
# Builds both trees: build/native (host tools and tests) and build/win32
# (the installer, its Windows tests and the end-to-end driver).
# Extra arguments go to the win32 configure, e.g. -DVANTEL_PRODUCT_DIR=/path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build/native" -j "$jobs"

ezpack=""
[ -x "$root/build/native/tools/ezpack/ezpack" ] && ezpack="$root/build/native/tools/ezpack/ezpack"
cmake -S "$root" -B "$root/build/win32" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DEZPACK_EXECUTABLE="$ezpack" "$@" >/dev/null
cmake --build "$root/build/win32" -j "$jobs"
