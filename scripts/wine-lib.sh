# Wine for the project's scripts, sourced: Debian's wine64 and wineserver, a
# throw-away prefix, and its boot.
#   wine_prefix DIR   a fresh, empty prefix in DIR, exported for wine
#   boot_wine         one server for the run, the prefix booted and set up
#                     (inside the network namespace and the display of the run)
# shellcheck shell=bash
wine=/usr/lib/wine/wine64 # Debian's place for it, not on PATH
wineserver=/usr/lib/wine/wineserver

wine_prefix() {
  export WINEPREFIX=$1 WINEARCH=win64 WINEDEBUG=-all
  # No Mono or Gecko: the prefix needs neither, and would otherwise ask for them.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
}

boot_wine() {
  "$wineserver" -p # one server for the whole run, not one per program
  "$wine" wineboot -i >/dev/null 2>&1
  # Without a window manager on the display, wine would wait 2 s for one at
  # every window it hides: its windows are left to it alone.
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
}
