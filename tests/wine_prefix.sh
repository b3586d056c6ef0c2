#!/bin/sh
# The Wine prefix the Windows executables are tested in, with no display.
#
#   wine_prefix.sh create PREFIX   makes PREFIX, once: later calls find it ready
#   wine_prefix.sh stop PREFIX     ends the prefix's wineserver
#
# Relaying is limited to the two calls the tests read from the trace, so that
# a run with WINEDEBUG=+relay stays as fast as one without.
set -eu
action=$1
prefix=$2
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

case $action in
  create)
    [ -f "$prefix/anim3d-ready" ] && exit 0
    rm -rf "$prefix"
    wineboot -i
    wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
      /d 'user32.MessageBoxA;user32.GetActiveWindow' /f
    wineserver -w  # every process of the prefix done and the registry saved
    touch "$prefix/anim3d-ready"
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    ;;
  *)
    echo "usage: wine_prefix.sh create|stop PREFIX" >&2
    exit 2
    ;;
esac
