#!/usr/bin/env bash
# usage: ezpack_test.sh WORKDIR EZPACK-COMMAND...
# Output goes to files, never through pipes (Wine keeps inherited pipes open).
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=$1
shift
ezpack=("$@")
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# run EXPECTED-CODE ARGS...: runs ezpack, output in out.txt and err.txt.
run() {
  local expected=$1
  shift
  "${ezpack[@]}" "$@" >out.txt 2>err.txt
  local code=$?
  tr -d '\r' <out.txt >out.clean && mv out.clean out.txt
  tr -d '\r' <err.txt >err.clean && mv err.clean err.txt
  [ "$code" -eq "$expected" ] || fail "ezpack $* exited $code, expected $expected: $(cat err.txt)"
}

expect_error() {  # expect_error NAME-IN-MESSAGE REASON
  grep -q -- "$1" err.txt || fail "error does not name '$1': $(cat err.txt)"
  grep -q -- "$2" err.txt || fail "error does not say '$2': $(cat err.txt)"
  [ "$(wc -l <err.txt)" -eq 1 ] || fail "error is not one line: $(cat err.txt)"
}

# A product-like tree: two-byte names, an empty file, a nested version folder.
mkdir -p src/browser/1.2.3/locales src/resource src/中文目录
printf 'program' >src/VantelPA.exe
printf '说明' >src/升级说明与必看.txt
printf 'text' >src/中文目录/文件.txt
: >src/browser/1.2.3/empty.dat
head -c 300000 /dev/urandom >src/browser/1.2.3/big.bin
printf 'zh' >src/browser/1.2.3/locales/zh-CN.pak
printf 'icon' >src/resource/zh_logo_64.ico

# Round trip.
run 0 pack src out
[ -s out.ez ] || fail "pack wrote no out.ez"
grep -q '^7 files' out.txt || fail "pack did not report 7 files: $(cat out.txt)"
run 0 pack src named.ez
[ -s named.ez ] && [ ! -e named.ez.ez ] || fail "pack did not keep the .ez name"
run 0 list out.ez
grep -q 'browser\\1.2.3\\empty.dat' out.txt || fail "list lacks the empty file: $(cat out.txt)"
grep -q 'd41d8cd98f00b204e9800998ecf8427e' out.txt || fail "list lacks the empty digest"
grep -q '^7 records' out.txt || fail "list summary: $(tail -n 1 out.txt)"
run 0 extract out.ez dst --trace
[ "$(grep -c 'MD5' out.txt)" -eq 7 ] || fail "extract trace: $(cat out.txt)"
cmp -s src/browser/1.2.3/big.bin dst/browser/1.2.3/big.bin || fail "big.bin differs after extraction"
cmp -s src/升级说明与必看.txt dst/升级说明与必看.txt || fail "notes file differs after extraction"
[ -f dst/browser/1.2.3/empty.dat ] && [ ! -s dst/browser/1.2.3/empty.dat ] || fail "empty file not extracted"
run 0 verify out.ez dst
printf 'changed' >dst/中文目录/文件.txt
rm dst/resource/zh_logo_64.ico
run 1 verify out.ez dst
grep -q 'differs' out.txt && grep -q 'missing' out.txt || fail "verify output: $(cat out.txt)"
[ ! -e dst/resource/zh_logo_64.ico ] || fail "verify wrote a file"
run 0 extract out.ez dst
run 0 verify out.ez dst

# A staging file a killed run left: verify lists it apart from the records
# and does not fail on it; the next extraction removes it.
printf 'stale' >dst/browser/1.2.3/.vantel-0123456789abcdef.tmp
run 0 verify out.ez dst
grep -qx 'leftover: browser\\1.2.3\\.vantel-0123456789abcdef.tmp' out.txt || fail "verify leftover: $(cat out.txt)"
grep -q '^7 records match' out.txt || fail "verify counted the leftover: $(cat out.txt)"
run 0 extract out.ez dst
[ ! -e dst/browser/1.2.3/.vantel-0123456789abcdef.tmp ] || fail "extract kept the leftover"

# Bad input: one line naming the file and the reason, exit 3, nothing written.
run 3 list missing.ez
expect_error missing.ez missing
printf 'abc' >short.ez
run 3 extract short.ez never1
expect_error short.ez 'not an envelope'
[ ! -e never1 ] || fail "extract of a short file created its folder"
printf 'ABCDEFGHIJKLMNOP' >tag.ez
run 3 extract tag.ez never2
expect_error tag.ez 'bad tag'
[ ! -e never2 ] || fail "extract with a bad tag created its folder"
head -c 40 out.ez >cut.ez
run 3 verify cut.ez dst
expect_error cut.ez 'corrupt stream'
printf '\x0d\x0f\x3e\x03\x00\x00\x00\x00' >empty.ez
run 3 list empty.ez
expect_error empty.ez 'bad record count'
run 3 pack missing-folder x
expect_error missing-folder missing
[ ! -e x.ez ] || fail "pack of a missing folder wrote x.ez"
mkdir -p emptydir
run 3 pack emptydir y
expect_error emptydir 'no files'
[ ! -e y.ez ] || fail "pack of an empty folder wrote y.ez"
mkdir -p nogbk
printf 'x' >nogbk/ok.txt
printf 'x' >"nogbk/smile-$(printf '\xf0\x9f\x98\x80').txt"
run 3 pack nogbk z
expect_error smile 'GBK'
[ ! -e z.ez ] || fail "pack with a non-GBK name wrote z.ez"

# An archive that is not whole writes nothing: extract says what list says.
head -c 5000 /dev/urandom >five.bin
for framing in "--count 99999" "--cut 3000" "--trail 1"; do
  python3 "$here/craft_archive.py" $framing framing.ez a.txt = alpha five.bin = @five.bin || fail "cannot craft ($framing)"
  run 3 list framing.ez
  mv err.txt list-err.txt
  run 3 extract framing.ez framing-dst
  cmp -s err.txt list-err.txt || fail "extract ($framing) says otherwise than list: $(cat err.txt) / $(cat list-err.txt)"
  [ ! -e framing-dst ] || fail "extract ($framing) wrote: $(ls -A framing-dst)"
done

# A record is a file, dot or not; a folder at a record's path never matches;
# a record that would undo an earlier one fails; exit 0 means verify agrees.
mkdir -p plain && : >plain/LICENSE && printf 'tool' >plain/tool
run 0 pack plain plain
run 0 extract plain.ez 'rel/app-1.0'
[ -f rel/app-1.0/LICENSE ] && [ -f rel/app-1.0/tool ] || fail "names without a dot did not become files"
run 0 verify plain.ez 'rel/app-1.0'
rm rel/app-1.0/LICENSE && mkdir rel/app-1.0/LICENSE
run 1 verify plain.ez 'rel/app-1.0'
grep -q '^differs: LICENSE$' out.txt || fail "verify took a folder for an empty file: $(cat out.txt)"
python3 "$here/craft_archive.py" undo.ez 'a\b.txt' = b a = a || fail "cannot write undo.ez"
run 1 extract undo.ez undo-dst
[ "$(cat 'undo-dst/a/b.txt')" = b ] || fail "a later record undid an earlier one"

# Names on the command line arrive whole on a system whose code page lacks
# them (under Wine: code page 1252); one GBK cannot hold is refused.
mkdir -p 中文包/子目录
printf 'x' >中文包/子目录/文件.txt
VANTEL_WINE_LANG=en_US.UTF-8 run 0 pack 中文包 中文包.ez
VANTEL_WINE_LANG=en_US.UTF-8 run 0 verify 中文包.ez 中文包
run 3 list "smile-$(printf '\xf0\x9f\x98\x80').ez"
expect_error smile 'GBK'

# Archive texts reach the terminal escaped: one line per record, no raw
# control byte, bytes that form no character shown as \xNN. plain.txt never
# verifies, so the extraction fails and names it.
esc=$'\x1b[2J\n'
python3 "$here/craft_archive.py" hostile.ez plain.txt "$esc" plain "esc${esc}name.txt" "$esc" x \
  "bad$(printf '\xff').txt" = x
raw_bytes() { LC_ALL=C grep -q "$(printf '[\001-\011\013-\037\177]')" "$@"; }
run 0 list hostile.ez
[ "$(wc -l <out.txt)" -eq 4 ] || fail "list of hostile texts is not one line per record: $(cat -v out.txt)"
raw_bytes out.txt && fail "list printed a raw control byte: $(cat -v out.txt)"
grep -q 'esc\\x1b\[2J\\x0aname.txt' out.txt || fail "list does not show the escaped path: $(cat -v out.txt)"
[ "$(grep -c '\\x1b\[2J\\x0a0000' out.txt)" -eq 2 ] || fail "list does not show the escaped md5: $(cat -v out.txt)"
grep -q 'bad\\xff.txt' out.txt || fail "list does not show the byte that forms no character: $(cat -v out.txt)"
run 1 extract hostile.ez hostile-dst --trace
raw_bytes out.txt err.txt && fail "extract printed a raw control byte: $(cat -v err.txt out.txt | head -n 3)"
grep -q '\\x1b\[2J\\x0a' out.txt && [ "$(grep -vc MD5 out.txt)" -eq 0 ] || fail "trace lines: $(cat -v out.txt | head -n 3)"
expect_error 'hostile-dst.plain\.txt: could not be written' ' of 3 records unfinished)'

# A path far longer than any file system takes is read through, never held:
# extraction skips it, list shows it cut short with its length.
python3 - long.ez <<'PY' || fail "cannot write long.ez"
import hashlib, struct, sys, zlib
claim, ok = 256 << 20, b"ok"
digest = hashlib.md5(b"").hexdigest().encode()
head = struct.pack("<i", 2) + struct.pack("<4i", claim, 0, 0, 2)
tail = digest + b"32" + struct.pack("<4i", 6, 2, 2, 2) + b"ok.txt" + hashlib.md5(ok).hexdigest().encode() + b"32" + ok
z, chunk = zlib.compressobj(), b"p" * (1 << 20)
with open(sys.argv[1], "wb") as f:
    f.write(struct.pack("<2I", 0x033E0F0D, len(head) + claim + len(tail)) + z.compress(head))
    for _ in range(claim >> 20):
        f.write(z.compress(chunk))
    f.write(z.compress(tail) + z.flush())
PY
# Natively with less address space than the path would take (Wine needs more for itself).
bounded() {
  (if [[ "${ezpack[-1]}" != *.exe ]]; then ulimit -v 200000 || exit 99; fi; exec "$@") >out.txt 2>err.txt
  local code=$?
  tr -d '\r' <out.txt >out.clean && mv out.clean out.txt
  return $code
}
bounded "${ezpack[@]}" list long.ez || fail "list long.ez failed: $(cat err.txt)"
grep -q '(268435456-byte path, cut short)  (invalid: skipped on extraction)$' out.txt ||
  fail "list does not show the long path cut short: $(head -c 400 out.txt)"
[ "$(wc -c <out.txt)" -lt 2000 ] || fail "list printed the long path whole"
bounded "${ezpack[@]}" extract long.ez long-dst || fail "extract long.ez failed: $(cat err.txt)"
[ "$(ls -A long-dst)" = ok.txt ] || fail "extract long.ez wrote: $(ls -A long-dst)"

# Usage.
run 2 extract out.ez
run 2 frobnicate
run 0 --version
[ "$(cat out.txt)" = "ezpack ${EZPACK_VERSION:?}" ] || fail "--version: $(cat out.txt)"
for command in pack list extract verify container; do
  run 0 "$command" --help
  grep -q "usage: ezpack $command" out.txt || fail "$command --help: $(cat out.txt)"
done

[ "$failures" -eq 0 ] || exit 1
echo "ezpack: all checks passed"
