#!/usr/bin/env bash
# usage: links_test.sh WORKDIR EZPACK-COMMAND...
# Links and other users' files planted in the target folder: what links
# name is never written, deleted or changed, and no file another user owns
# is kept. Under Wine a Unix link to a folder shows as a reparse point, one
# to a file only by the name its handle reports, and no link can be
# removed: Wine opens what a link names even when asked for the link
# itself. Output goes to files, never through pipes.
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=$1
shift
ezpack=("$@")
wine=0
[[ "${ezpack[-1]}" == *.exe ]] && wine=1
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

fresh_outside() {
  chmod -R u+w outside 2>/dev/null
  rm -rf outside
  mkdir outside
  printf 'outside' >outside/keep.txt
  printf 'read-only' >outside/ro.txt
  chmod 0444 outside/ro.txt
}
check_outside() {
  [ "$(ls -A outside | tr '\n' ' ')" = "keep.txt ro.txt " ] || fail "$1: the folder outside now holds: $(ls -A outside)"
  [ "$(cat outside/keep.txt)" = outside ] || fail "$1: keep.txt outside changed"
  [ "$(cat outside/ro.txt)" = read-only ] || fail "$1: ro.txt outside changed"
  [ "$(stat -c %a outside/ro.txt)" = 444 ] || fail "$1: ro.txt outside is now mode $(stat -c %a outside/ro.txt)"
}
# extract NAME EXPECTED-CODE ARCHIVE: into the folder NAME.
extract() {
  "${ezpack[@]}" extract "$3" "$1" >out.txt 2>err.txt
  local code=$?
  [ "$code" -eq "$2" ] || fail "$1: extract exited $code, expected $2: $(cat err.txt)"
}
craft() { python3 "$here/craft_archive.py" "$@" || exit 1; }
# The trace in UTF-8: under Wine it comes in code page 936.
trace() { if [ "$wine" -eq 1 ]; then iconv -f GBK -t UTF-8 out.txt; else cat out.txt; fi; }
# Native runs remove a link where a file goes; Wine runs cannot.
link_removed=$((1 - wine))

# A link to a folder on the way of a record: nothing is made through it.
fresh_outside
mkdir on-the-way && ln -s ../outside on-the-way/link
craft on-the-way.ez 'link\x.txt' = x 'link\sub\y.txt' = y
extract on-the-way 1 on-the-way.ez
check_outside "link on the way"
[ -L on-the-way/link ] || fail "link on the way: the link went"

# A link to a folder where a file goes: it is removed itself, never emptied.
fresh_outside
mkdir where-a-file-goes && ln -s ../outside where-a-file-goes/d
craft file-d.ez d = file
extract where-a-file-goes "$wine" file-d.ez
check_outside "link where a file goes"
if [ "$link_removed" -eq 1 ]; then
  [ ! -L where-a-file-goes/d ] && [ "$(cat where-a-file-goes/d)" = file ] || fail "link where a file goes: d is not the file"
fi

# A folder where a file goes, holding a link to a folder.
fresh_outside
mkdir -p folder-with-link/d && printf 'a' >folder-with-link/d/a.txt && ln -s ../../outside folder-with-link/d/inner
extract folder-with-link "$wine" file-d.ez
check_outside "folder holding a link"

# Hard links to files outside, one of them read-only: replaced, never written through.
fresh_outside
mkdir hard && ln outside/keep.txt hard/keep.txt && ln outside/ro.txt hard/ro.txt
craft hard.ez keep.txt = new ro.txt = new
extract hard 0 hard.ez
check_outside "hard links"
[ "$(cat hard/keep.txt)" = new ] && [ "$(cat hard/ro.txt)" = new ] || fail "hard links: not replaced"

# Links to files, one with the bytes the record wants: none counts as the file.
fresh_outside
mkdir file-links && ln -s ../outside/keep.txt file-links/keep.txt && ln -s ../outside/ro.txt file-links/ro.txt
craft file-links.ez keep.txt = new ro.txt = read-only
extract file-links "$wine" file-links.ez
check_outside "links to files"
if [ "$link_removed" -eq 1 ]; then
  [ ! -L file-links/keep.txt ] && [ ! -L file-links/ro.txt ] || fail "links to files: a link is left"
  [ "$(cat file-links/keep.txt)" = new ] || fail "links to files: keep.txt is not the record's"
  ln -sf ../outside/keep.txt file-links/keep.txt
fi
"${ezpack[@]}" verify file-links.ez file-links >out.txt 2>err.txt && fail "verify took a link for the file"
tr -d '\r' <out.txt | grep -q '^link: keep.txt' || fail "verify does not report the link: $(cat out.txt)"

# Files another user owns (root only: chown stands in for that user's
# own writes): the record's bytes planted in a folder open to all, and a
# hard link to that user's file outside. Both are written anew, the run's
# own with one name; the other name stays as it was. The run's own file of
# the record's bytes is kept.
if [ "$(id -u)" -eq 0 ]; then
  fresh_outside
  mkdir shared && chmod 1777 shared
  printf 'planted' >shared/planted.txt && printf 'kept' >shared/kept.txt
  chown 65534 shared/planted.txt outside/keep.txt
  ln outside/keep.txt shared/keep.txt
  kept=$(stat -c %i shared/kept.txt)
  craft shared.ez planted.txt = planted keep.txt = outside kept.txt = kept
  "${ezpack[@]}" extract shared.ez shared --trace >out.txt 2>err.txt || fail "another user's files: $(cat err.txt)"
  check_outside "another user's files"
  owner=$(stat -c %u:%h outside/keep.txt)
  [ "$owner" = 65534:1 ] || fail "another user's files: keep.txt outside is now $owner (owner:links)"
  for name in planted keep; do
    owner=$(stat -c %u:%h shared/$name.txt)
    [ "$owner" = 0:1 ] || fail "another user's $name.txt: now $owner (owner:links)"
    trace | grep -q "写入成功.*$name.txt" || fail "another user's $name.txt: not written: $(trace | grep $name.txt)"
  done
  [ "$(stat -c %i shared/kept.txt)" = "$kept" ] && trace | grep -q '无变化.*kept.txt' || fail "kept.txt: not kept: $(trace)"
else
  echo "another user's files: skipped (needs root)"
fi

# A folder of another volume mounted below the target is a link too (root
# only, in a mount namespace of its own).
if [ "$wine" -eq 0 ] && unshare -m true 2>/dev/null; then
  fresh_outside
  mkdir -p mounted/sub
  craft mounted.ez 'sub\new.txt' = new 'sub\keep.txt' = replaced
  unshare -m bash -c 'mount --bind outside mounted/sub && "$@" extract mounted.ez mounted >out.txt 2>err.txt
    echo $? >code.txt' bash "${ezpack[@]}"
  [ "$(cat code.txt)" -eq 1 ] || fail "mount point: extract exited $(cat code.txt), expected 1: $(cat err.txt)"
  check_outside "mount point"
else
  echo "mount point: skipped (needs root and a mount namespace)"
fi

chmod -R u+w outside hard 2>/dev/null
[ "$failures" -eq 0 ] || exit 1
echo "ezpack links: all checks passed"
