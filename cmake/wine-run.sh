#!/usr/bin/env bash
# Runs a Windows executable under Wine with the build folder's own prefix.
# CTest starts a persistent wineserver before the tests (fixture wine_start)
# and stops it after them (wine_stop), so each test pays no server start.
set -u
: "${WINEPREFIX:=$PWD/wineprefix}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
