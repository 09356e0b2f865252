# Sourced by the Wine wrappers: the loader, server and prefix of one
# architecture. i686 is what ships; x86_64 runs the twin under Debian's
# 64-bit loader, which the `wine` script passes over whenever wine32 is
# installed; wow64 runs the i686 images as 64-bit Windows does, in a 64-bit
# prefix (needs wine32 and wine64). Each keeps a prefix of its own.
wine_arch_select() {
  local arch=$1 build=$2
  case $arch in
    wow64)
      # The 64-bit loader and server own the prefix; the loader hands a
      # 32-bit program to its 32-bit twin beside it (/usr/lib/wine/wine).
      WINE_LOADER=/usr/lib/wine/wine64
      WINE_SERVER=/usr/lib/wine/wineserver64
      export WINELOADER=$WINE_LOADER WINEARCH=win64
      export WINEPREFIX="${WINEPREFIX:-$build/wineprefix-wow64}" ;;
    x86_64)
      WINE_LOADER=/usr/lib/wine/wine64
      WINE_SERVER=/usr/lib/wine/wineserver64
      export WINELOADER=$WINE_LOADER WINEARCH=win64
      export WINEPREFIX="${WINEPREFIX:-$build/wineprefix64}" ;;
    *)
      WINE_LOADER=wine
      WINE_SERVER=wineserver
      [ -x /usr/lib/wine/wineserver32 ] && WINE_SERVER=/usr/lib/wine/wineserver32
      export WINEARCH=win32
      export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}" ;;
  esac
}
