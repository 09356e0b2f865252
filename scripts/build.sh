#!/usr/bin/env bash
# Builds the trees: build/native (host tools and tests), build/win32 (the
# shipped i686 installer, its Windows tests and the end-to-end driver) and,
# when the Windows suite runs on the x86_64 twin (scripts/windows-arch.sh),
# build/win64 from the same sources.
# Extra arguments go to the Windows configures, e.g. -DVANTEL_PRODUCT_DIR=/path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
source "$root/scripts/windows-arch.sh"
windows_arches

cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build/native" -j "$jobs"

ezpack=""
[ -x "$root/build/native/tools/ezpack/ezpack" ] && ezpack="$root/build/native/tools/ezpack/ezpack"
windows_tree() {  # windows_tree DIR TOOLCHAIN ARGS...
  local dir=$1 toolchain=$2
  shift 2
  cmake -S "$root" -B "$root/build/$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" -DEZPACK_EXECUTABLE="$ezpack" "$@" >/dev/null
  cmake --build "$root/build/$dir" -j "$jobs"
}
windows_tree win32 mingw-i686.cmake "$@"
if [[ " ${WINDOWS_ARCHES[*]} " == *" x86_64 "* ]]; then
  windows_tree win64 mingw-x86_64.cmake "$@"
fi
