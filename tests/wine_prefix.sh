#!/bin/sh
# The Wine prefix the Windows executables are tested in, with no display.
#
#   wine_prefix.sh create PREFIX WINE WINESERVER   makes PREFIX once (later
#                                                  calls find it ready) and
#                                                  starts its wineserver
#   wine_prefix.sh stop PREFIX WINE WINESERVER     ends that wineserver
#
# Relaying is limited to the two calls the tests read from the trace, so that
# a run with WINEDEBUG=+relay stays as fast as one without.
set -eu
action=$1
prefix=$2
wine=$3
wineserver=$4
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

case $action in
  create)
    # A prefix made by another Wine (a 32-bit one, say) is made again.
    if [ "$(cat "$prefix/anim3d-ready" 2>/dev/null)" != "$wine" ]; then
      rm -rf "$prefix"
      "$wine" wineboot -i
      "$wine" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
        /d 'user32.MessageBoxA;user32.GetActiveWindow' /f
      "$wineserver" -w  # every process of the prefix done and the registry saved
      echo "$wine" >"$prefix/anim3d-ready"
    fi
    # One server for all the runs: each run would otherwise start its own, a
    # second or more each. It ends by itself a minute after the last run,
    # should the stop never come, and holds none of this script's output open.
    "$wineserver" -p60 </dev/null >/dev/null 2>&1
    ;;
  stop)
    "$wineserver" -k 2>/dev/null || true
    ;;
  *)
    echo "usage: wine_prefix.sh create|stop PREFIX WINE WINESERVER" >&2
    exit 2
    ;;
esac
