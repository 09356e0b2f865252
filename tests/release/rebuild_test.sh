#!/usr/bin/env bash
# usage: rebuild_test.sh SOURCE WORK EZPACK
# Builds the installer and ezpack twice, from SOURCE and from a copy of it
# with fresh file times, in two folders under WORK; the second build signs
# the installer with a throwaway certificate. The unsigned images must be
# the same bytes, and the signed one must verify and keep its payload.
# Leaves WORK/b/app with the signed installer for the signed-image run.
set -u
source=$1 work=$2 ezpack=$3
here=$(cd "$(dirname "$0")" && pwd)
case "$work" in /tmp/?*) ;; *) echo "work folder must be below /tmp: $work"; exit 2 ;; esac
rm -rf "$work"
mkdir -p "$work/clone" "$work/cert"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A code-signing certificate that signs itself; it is its own CA below.
cert=$work/cert
printf 'throwaway-%s\n' "$RANDOM$RANDOM" >"$cert/password"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Vantel throwaway signing" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$cert/key.pem" -out "$cert/cert.pem" >"$cert/log" 2>&1 || { cat "$cert/log"; exit 1; }
openssl pkcs12 -export -inkey "$cert/key.pem" -in "$cert/cert.pem" -out "$cert/sign.p12" \
  -passout "file:$cert/password" >>"$cert/log" 2>&1 || { cat "$cert/log"; exit 1; }

# The copy gets new file times: none of them may reach the images.
tar -C "$source" --exclude=./build --exclude=./.git -cf - . | tar -C "$work/clone" -xmf - || exit 1

build() {  # build SOURCE DIR [CMAKE ARGS...]
  local src=$1 dir=$2
  shift 2
  cmake -S "$src" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" \
    -DEZPACK_EXECUTABLE="$ezpack" "$@" >"$dir.log" 2>&1 &&
    cmake --build "$dir" -j2 --target VantelPA-Setup ezpack >>"$dir.log" 2>&1 || { tail -n 30 "$dir.log"; exit 1; }
}
build "$source" "$work/a"
build "$work/clone" "$work/b" -DVANTEL_SIGN_PKCS12="$cert/sign.p12" -DVANTEL_SIGN_PASSWORD_FILE="$cert/password"

same() {
  if cmp -s "$1" "$2"; then echo "same bytes: $(basename "$2") ($(stat -c %s "$2") bytes)"; else fail "$1 and $2 differ"; fi
}
same "$work/a/app/VantelPA-Setup.exe" "$work/b/app/VantelPA-Setup-unsigned.exe"
same "$work/a/app/VantelPA-Setup.exe.debug" "$work/b/app/VantelPA-Setup.exe.debug"
same "$work/a/tools/ezpack/ezpack.exe" "$work/b/tools/ezpack/ezpack.exe"

signed=$work/b/app/VantelPA-Setup.exe
cmp -s "$signed" "$work/b/app/VantelPA-Setup-unsigned.exe" && fail "the installer was not signed"
osslsigncode verify -CAfile "$cert/cert.pem" -in "$signed" >"$work/verify.log" 2>&1 ||
  fail "osslsigncode verify: $(grep -i -m3 'fail\|error' "$work/verify.log")"
grep -q 'Signature verification: ok' "$work/verify.log" || fail "no successful verification: $(tail -n 3 "$work/verify.log")"
/usr/bin/python3 "$here/check_image.py" "$signed" "$work/clone/app/version.h" --manifest \
  --time-stamp "${SOURCE_DATE_EPOCH:-0}" \
  --payload "$work/b/app/payload/payload.container" || fail "signed image"

[ "$failures" -eq 0 ] || exit 1
echo "rebuild: identical images; signed image verifies"
