# Sourced by the Wine wrappers. Wine takes both the ANSI code page (936)
# and the encoding of Unix file names from the locale: when zh_CN.UTF-8 is
# not generated, the code page is still 936 but every non-ASCII file name
# fails. A private copy of the locale (LOCPATH) fixes both.
# An optional second argument names another UTF-8 locale (en_US.UTF-8 for
# the code page 1252 runs); every copy goes into the same folder.
wine_locale_prepare() {
  local build=$1 name=${2:-zh_CN.UTF-8}
  local lang=${name%%.*}
  if locale -a 2>/dev/null | grep -qix "${lang}.utf-\?8"; then
    return 0
  fi
  local loc="$build/locale"
  if [ ! -d "$loc/$lang.UTF-8" ]; then
    mkdir -p "$loc"
    local tmp="$loc/.tmp.$$"
    if localedef -i "$lang" -f UTF-8 "$tmp" >/dev/null 2>&1; then
      mv -T "$tmp" "$loc/$lang.UTF-8" 2>/dev/null || rm -rf "$tmp"
    else
      rm -rf "$tmp"
    fi
  fi
  [ -d "$loc/$lang.UTF-8" ] && export LOCPATH="$loc"
  return 0
}
