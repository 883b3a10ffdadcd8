#!/usr/bin/env bash
# Runs a Windows executable under Wine with the build folder's own prefix:
#   wine-run.sh program.exe [args...]
# CTest starts a persistent wineserver before the tests (fixture wine_start,
# `wine-run.sh --start`) and stops it after them (wine_stop, `--stop`), so
# each test pays no server start. WINEPREFIX must name the prefix (CTest sets
# it to <build>/wineprefix); without it, ./wineprefix is used.
set -u
: "${WINEPREFIX:=$PWD/wineprefix}"
# No Mono or Gecko: their installers would ask on a first start.
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

case "${1:-}" in
  --start)
    mkdir -p "$WINEPREFIX" || exit 1
    # The server must not hold CTest's output pipes, or CTest waits for it.
    # When a server already runs for this prefix, -p fails and that one is used.
    wineserver -p </dev/null >/dev/null 2>&1 || echo "a wineserver already runs for $WINEPREFIX"
    # Creates the prefix on a first run (about a minute), otherwise brings it up to date.
    wineboot -i </dev/null >/dev/null 2>&1 || exit 1
    echo "wineserver running for $WINEPREFIX"
    ;;
  --stop)
    wineserver -k </dev/null >/dev/null 2>&1
    echo "wineserver stopped for $WINEPREFIX"
    exit 0
    ;;
  *)
    exec wine "$@"
    ;;
esac
