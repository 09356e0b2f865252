#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test the installer.
# Packages already present are skipped, so a second run takes seconds.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  g++-mingw-w64-i686 binutils-mingw-w64-i686 libz-mingw-w64-dev
  wine wine32:i386 fonts-wine xvfb xauth fonts-wqy-microhei
  googletest zlib1g-dev libssl-dev locales
  python3-pil python3-pefile imagemagick osslsigncode openssl
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
echo "bootstrap: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
