#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test the installer.
# Packages already present are skipped, so a second run takes seconds.
# Wine comes in the architectures the Windows suite will run (see
# scripts/windows-arch.sh): wine32 where the host runs 32-bit code, with
# wine64 for its run on 64-bit Windows (e2e_variant_wow64), and wine64 for
# the x86_64 twin. The last line of packages is for tools/bench/peer.sh.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/windows-arch.sh"
windows_arches || exit 1

packages=(
  cmake make g++ pkg-config
  g++-mingw-w64-i686 binutils-mingw-w64-i686 libz-mingw-w64-dev
  wine fonts-wine xvfb xauth fonts-wqy-microhei
  googletest zlib1g-dev libssl-dev locales
  python3-pil python3-pefile imagemagick osslsigncode openssl
  clang libclang-rt-14-dev
  nsis bc procps python3
)
for arch in "${WINDOWS_ARCHES[@]}"; do
  case $arch in
    i686) packages+=(wine32:i386 wine64) ;;
    x86_64) packages+=(wine64 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64) ;;
  esac
done

missing_packages() {
  local p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}
mapfile -t missing < <(missing_packages)
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
echo "bootstrap: installing ${missing[*]}"

# A mirror caught mid-sync fails one index now and then; the others are
# still fresh, so a failure after a few tries is only a warning.
updated=0
for attempt in 1 2 3; do
  if $sudo apt-get update -qq; then updated=1; break; fi
  [ "$attempt" -lt 3 ] && sleep 10
done
[ "$updated" -eq 1 ] || echo "bootstrap: warning: the package index did not update cleanly; going on with what it has" >&2

install() { $sudo apt-get install -y -qq --no-install-recommends "$@" "${missing[@]}" >/dev/null; }
if ! install; then
  # The i386 copies of libraries that a stale index holds at other versions
  # than their amd64 twins cannot be installed beside them; the release's
  # own versions match in both architectures.
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if [ -n "$codename" ]; then
    echo "bootstrap: retrying with the $codename release's own versions" >&2
    install -t "$codename" || true
  fi
fi

mapfile -t missing < <(missing_packages)
if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: could not install: ${missing[*]}" >&2
  exit 1
fi
