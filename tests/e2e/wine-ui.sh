#!/bin/sh
# Runs the Windows end-to-end test, which opens the updater's real dialogs,
# under Xvfb with a Wine prefix of its own:
#   wine-ui.sh <prefix> test_e2e.exe [args...]
# The shared prefix's wineserver runs without a display, and windows cannot
# be created through it; this prefix's server and desktop start under Xvfb
# and are stopped when the test ends. Wine draws the windows' frames and
# captions itself, as Windows would (there is no window manager), so that
# the tests see them as the player does.
set -u
WINEPREFIX=$1
shift
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX" || exit 1
exec xvfb-run -a sh -c '
  wineboot -i </dev/null >/dev/null 2>&1
  wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wine "$@"
  rc=$?
  wineserver -k </dev/null >/dev/null 2>&1
  exit $rc' sh "$@"
