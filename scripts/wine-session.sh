#!/usr/bin/env bash
# Sourced by the run and test scripts: one virtual display (when there is
# none) and one wineserver for the whole session, with a booted prefix.
# wine_session_end stops both.
#
# wine_session_start ROOT [ARCH]: ARCH is i686 (the default, what ships),
# x86_64 (the twin) or wow64 (the i686 images in a 64-bit prefix), see
# cmake/wine-arch.sh. WINE_LOADER then runs programs.
#
# A run on other Windows settings sets, before wine_session_start:
#   VANTEL_WINEPREFIX     its own prefix (default: the architecture's)
#   VANTEL_WINE_LANG      the locale, e.g. en_US.UTF-8 for code page 1252
#   VANTEL_DESKTOP_SIZE   the virtual desktop and display (default 1024x768)
#   VANTEL_WINE_DPI       the display scale as LogPixels (default: as booted)

wine_session_start() {
  local root=$1 arch=${2:-i686}
  unset WINEPREFIX
  source "$root/cmake/wine-arch.sh"
  wine_arch_select "$arch" "$root/build"
  [ -n "${VANTEL_WINEPREFIX:-}" ] && export WINEPREFIX="$VANTEL_WINEPREFIX"
  local lang=${VANTEL_WINE_LANG:-zh_CN.UTF-8} size=${VANTEL_DESKTOP_SIZE:-1024x768}
  local bootlog="$root/build/wineboot${VANTEL_WINEPREFIX:+-$(basename "$VANTEL_WINEPREFIX")}.log"
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  # Wine takes code page 936 from these. Its file names need the Unix
  # locale too (without it every non-ASCII name fails with "not found"),
  # so a private copy is compiled once when the machine has none.
  source "$root/cmake/wine-locale.sh"
  wine_locale_prepare "$root/build" "$lang"
  WINE_LOCALE=(env LANG="$lang" LC_ALL="$lang")
  [ -n "${LOCPATH:-}" ] && WINE_LOCALE+=(LOCPATH="$LOCPATH")
  WINE_SESSION_XVFB=""
  if [ -z "${DISPLAY:-}" ]; then
    # Xvfb picks a free display number itself and writes it to the file.
    local numfile
    numfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$numfile" >/dev/null 2>&1 &
    WINE_SESSION_XVFB=$!
    for _ in $(seq 100); do [ -s "$numfile" ] && break; sleep 0.1; done
    export DISPLAY=":$(head -n 1 "$numfile")"
    rm -f "$numfile"
  fi
  mkdir -p "$WINEPREFIX"
  # Output goes to files: Wine's services keep inherited pipes open.
  "$WINE_SERVER" -p >/dev/null 2>&1 </dev/null
  "${WINE_LOCALE[@]}" "$WINE_LOADER" wineboot -i >"$bootlog" 2>&1 </dev/null || true
  # Wine links the desktop folder to $HOME; the installer puts its shortcut
  # there, so the prefix gets a desktop folder of its own.
  local desktop
  desktop="$WINEPREFIX/drive_c/users/$(id -un)/Desktop"
  if [ -L "$desktop" ]; then rm -f "$desktop" && mkdir -p "$desktop"; fi
  # Wine does not find the title-bar button symbols in its own font folder
  # here; a copy in the prefix's Fonts folder is found.
  local marlett=/usr/share/wine/fonts/marlett.ttf
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if [ -f "$marlett" ] && [ -d "$fonts" ] && [ ! -f "$fonts/marlett.ttf" ]; then cp "$marlett" "$fonts/"; fi
  # Every later program joins one 1024x768 virtual desktop, which draws
  # Windows frames (there is no window manager) and fixes the screen size.
  "${WINE_LOCALE[@]}" "$WINE_LOADER" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Vantel /f \
    >>"$bootlog" 2>&1 </dev/null || true
  "${WINE_LOCALE[@]}" "$WINE_LOADER" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Vantel /d "$size" /f \
    >>"$bootlog" 2>&1 </dev/null || true
  if [ -n "${VANTEL_WINE_DPI:-}" ]; then
    # The display scale, read by Wine at its start: 144 is 150 %.
    local key
    for key in 'HKCU\Control Panel\Desktop' \
               'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'; do
      "${WINE_LOCALE[@]}" "$WINE_LOADER" reg add "$key" /v LogPixels /t REG_DWORD /d "$VANTEL_WINE_DPI" /f \
        >>"$bootlog" 2>&1 </dev/null || true
    done
  fi
  # Restart once so the desktop is made here with the settings above, not
  # later by a test program: a desktop process started under ctest inherits
  # its output pipes and holds each test open until it exits.
  "$WINE_SERVER" -k >/dev/null 2>&1 </dev/null || true
  "$WINE_SERVER" -w >/dev/null 2>&1 </dev/null || true
  "$WINE_SERVER" -p >/dev/null 2>&1 </dev/null
  "${WINE_LOCALE[@]}" "$WINE_LOADER" wineboot >>"$bootlog" 2>&1 </dev/null || true
}

wine_session_end() {
  "${WINE_SERVER:-wineserver}" -k >/dev/null 2>&1 || true
  "${WINE_SERVER:-wineserver}" -w >/dev/null 2>&1 || true
  if [ -n "${WINE_SESSION_XVFB:-}" ]; then
    kill "$WINE_SESSION_XVFB" 2>/dev/null || true
    wait "$WINE_SESSION_XVFB" 2>/dev/null || true
    # The display went with it: a later session starts one of its own.
    unset DISPLAY
    WINE_SESSION_XVFB=""
  fi
}
