#!/usr/bin/env bash
# Runs the Windows updater (updater.exe, the mingw build) under Wine on a
# virtual X screen (Xvfb) and saves screenshots of its dialogs:
#
#   docs/progress.png    the progress dialog while a large file is copied
#   docs/longpath.png    the same with paths too long for their boxes
#   docs/error.png       the error box for a script with a syntax error, in
#                        front of the progress dialog
#   docs/completion.png  the completion dialog after the sample update
#
# Everything it makes lives in build/screenshots/: a Wine prefix of its own
# (prefix/), the game installed as C:\Games\Marovex\ and the update
# distribution as C:\Update\ inside it, and the registry values under
# HKEY_LOCAL_MACHINE\SOFTWARE\Varnholt\Marovex as the game's installer
# leaves them (version 1.002.005).
#
# The Windows build is build/windows (preset "windows"); SCREENSHOTS_BUILD
# names another mingw build folder. SCREENSHOTS_BIG_MB sets the size of the
# large file that keeps the progress dialog on the screen (default 512).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

. "$ROOT/scripts/lib.sh"

# --- what it needs, installed only when missing -----------------------------
install_missing cmake ninja-build g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 xvfb \
  imagemagick x11-apps xdotool

# --- the Windows build (ninja does nothing when it is up to date) -----------
if [ -n "${SCREENSHOTS_BUILD:-}" ]; then
  BUILD=$(cd "$SCREENSHOTS_BUILD" 2>/dev/null && pwd || echo "$ROOT/$SCREENSHOTS_BUILD")
  echo "== building updater.exe and updkit.exe in $BUILD"
  cmake -S "$ROOT" -B "$BUILD" -G Ninja --toolchain "$ROOT/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build "$BUILD" --target updater updkit
else
  BUILD="$ROOT/build/windows"
  build_programs windows
fi
UPDATER_EXE="$BUILD/app/updater.exe"
UPDKIT_EXE="$BUILD/tools/updkit/updkit.exe"

# --- the virtual screen and the Wine prefix ---------------------------------
S="$ROOT/build/screenshots"
export WINEPREFIX="$S/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$S" "$ROOT/docs"
shot="$S/shot"

XVFB_PID=""
RUN_PID=""
finish() {
  # The updater if it still runs, then this prefix's Wine, then the screen.
  [ -n "$RUN_PID" ] && kill -CONT "$RUN_PID" 2>/dev/null && kill "$RUN_PID" 2>/dev/null
  if [ -d "$WINEPREFIX" ]; then wineserver -k >/dev/null 2>&1 || true; fi
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  # The large files that kept the progress dialog on the screen.
  find "$WINEPREFIX/drive_c/Update" "$WINEPREFIX/drive_c/Games" -type f -size +64M -delete \
    2>/dev/null
  return 0
}
trap finish EXIT

# Xvfb picks a free display number and writes it to fd 3.
exec 3>"$S/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$S/xvfb.log" 2>&1 &
XVFB_PID=$!
exec 3>&-
for _ in $(seq 100); do [ -s "$S/display" ] && break; sleep 0.1; done
[ -s "$S/display" ] || { echo "Xvfb did not start (see $S/xvfb.log)" >&2; exit 1; }
DISPLAY=":$(head -n1 "$S/display")"
export DISPLAY
echo "== virtual screen $DISPLAY"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== making the Wine prefix (the first start takes a minute)"
fi
wineboot -i </dev/null >/dev/null 2>&1
# Wine draws the windows' frames and captions itself, as Windows would: the
# screen has no window manager that could.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
# Debian's Wine does not find its own fonts (Marlett draws the caption's close
# box, MS Sans Serif is the dialogs' font); a copy in the prefix's font folder
# is found.
if [ -d /usr/share/wine/fonts ]; then
  cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
fi

# --- the game installation: C:\Games\Marovex\, version 1.002.005 ------------
C="$WINEPREFIX/drive_c"
GAME="$C/Games/Marovex"
DIST="$C/Update"
make_game() {
  rm -rf "$GAME" "$DIST"
  mkdir -p "$GAME/Sound" "$GAME/Music" "$GAME/Video" "$DIST"
  cp -r "$ROOT/sample/old/." "$GAME/"
  local k='HKLM\SOFTWARE\Varnholt\Marovex' g='C:\Games\Marovex'
  reg_text "$k\Directories" MainPath "$g\\"
  reg_text "$k\Directories" VideoPath "$g\\Video\\"
  reg_text "$k\Directories" DataPath "$g\\Data\\"
  reg_text "$k\Directories" SoundPath "$g\\Sound\\"
  reg_text "$k\Directories" MusicPath "$g\\Music\\"
  reg_text "$k\Directories" InstPath "C:\\Update\\"
  reg_dword "$k\Version" Version 0x01020005
  reg_dword "$k\Version" Type 0xd0dd0001
  reg_text "$k\Version" Folder Marovex
  reg_text "$k\Version" LastPlayer 'Player One'
  reg_dword "$k\Version" CharSet 1
  reg_text "$k\Version" Server ''
  cp "$UPDATER_EXE" "$DIST/updater.exe"
}
# Into the 32-bit view, where the game's installer writes and the updater reads.
reg_text() { wine reg add "$1" /v "$2" /t REG_SZ /d "$3" /f /reg:32 >/dev/null; }
reg_dword() { wine reg add "$1" /v "$2" /t REG_DWORD /d "$3" /f /reg:32 >/dev/null; }
updkit() { (cd "$S" && wine "$UPDKIT_EXE" "$@"); }

# The bundled sample update, made as scripts/run-sample.sh makes it: the two
# versions of the sample game with their record stores (in build/screenshots/),
# the distribution that dist make writes from them copied into C:\Update\,
# the old version's record store into the game.
ship_sample() {
  rm -rf "$S/old" "$S/new" "$S/made" "$S/records"
  cp -r "$ROOT/sample/records" "$S/records"
  local v section
  for v in old new; do
    cp -r "$ROOT/sample/$v" "$S/$v"
    updkit store create "$v\\Data\\UNITS.DKX" >/dev/null
    for section in "$S/records/$v"/*/; do
      section=$(basename "$section")
      updkit store import "$v\\Data\\UNITS.DKX" "$section" "records\\$v\\$section" --pack 1 >/dev/null
    done
  done
  updkit dist make old new made --from 1.002.005 --to 1.003.000 >/dev/null
  cp -r "$S/made/." "$DIST/"
  cp "$S/old/Data/UNITS.DKX" "$S/old/Data/UNITS.DKD" "$GAME/Data/"
}

# Starts updater.exe in C:\Update with these arguments; RUN_PID is its
# process (wine's loader becomes the Windows program).
start_updater() {
  (cd "$DIST" && exec wine updater.exe "$@" </dev/null >"$S/updater.out" 2>&1) &
  RUN_PID=$!
}
# The X window of the updater's top-level window with this caption, waiting
# up to 60 s for it; empty when it did not come.
find_window() {
  local id
  for _ in $(seq 600); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    kill -0 "$RUN_PID" 2>/dev/null || return 0
    sleep 0.1
  done
}
# Saves the window (its frame and caption included) as a PNG.
capture() {
  xwd -silent -id "$1" >"$shot.xwd"
  convert "$shot.xwd" -strip "$2"
  echo "== saved ${2#"$ROOT"/} ($(identify -format '%wx%h' "$2"))"
}
# Saves window $2 in front of window $1, as the screen shows them, as $3
# (each is read from its own X window: Wine's windows are not all in a read
# of the whole screen).
capture_around() {
  local x0 y0 x1 y1 bx by
  eval "$(xdotool getwindowgeometry --shell "$1")"
  x0=$X y0=$Y x1=$((X + WIDTH)) y1=$((Y + HEIGHT))
  eval "$(xdotool getwindowgeometry --shell "$2")"
  bx=$X by=$Y
  x0=$((X < x0 ? X : x0)) y0=$((Y < y0 ? Y : y0))
  x1=$((X + WIDTH > x1 ? X + WIDTH : x1)) y1=$((Y + HEIGHT > y1 ? Y + HEIGHT : y1))
  xwd -silent -id "$1" >"$shot.xwd"
  xwd -silent -id "$2" >"$shot-2.xwd"
  eval "$(xdotool getwindowgeometry --shell "$1")"
  convert -size "$((x1 - x0))x$((y1 - y0))" xc:black \
    "$shot.xwd" -geometry "+$((X - x0))+$((Y - y0))" -composite \
    "$shot-2.xwd" -geometry "+$((bx - x0))+$((by - y0))" -composite -strip "$3"
  echo "== saved ${3#"$ROOT"/} ($(identify -format '%wx%h' "$3"))"
}
# Ends the run: the key goes to the dialog under the mouse pointer; if the
# updater has not ended 10 s later, it is stopped.
close_with_key() {
  local id=$1 key=$2
  eval "$(xdotool getwindowgeometry --shell "$id")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + 5)) key "$key" 2>/dev/null || true
  for _ in $(seq 100); do
    kill -0 "$RUN_PID" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$RUN_PID" 2>/dev/null; then
    echo "   (the dialog did not close on $key; stopping the updater)"
    kill "$RUN_PID" 2>/dev/null || true
  fi
  wait "$RUN_PID" 2>/dev/null || true
  RUN_PID=""
}

# The updater's window with caption $1, once it is there, saved as $2 and
# closed with key $3; the run fails when the window does not come.
shoot() {
  local w
  w=$(find_window "$1")
  [ -n "$w" ] || { echo "no window \"$1\"; updater output:" >&2; cat "$S/updater.out" >&2; exit 1; }
  sleep 0.5
  capture "$w" "$2"
  close_with_key "$w" "$3"
}

PROGRESS="MX Updater Version 2.2 "
BIG_MB=${SCREENSHOTS_BIG_MB:-512}

# --- (a) the progress dialog ------------------------------------------------
# The sample with a large file $1 put first into the folder $2 (a dstpath).
# Once the dialog has counted some bytes the updater is held (SIGSTOP) while
# the screen is read into $3, then let go to finish; Escape on the
# completion dialog is Exit.
progress_shot() {
  local name=$1 folder=$2 out=$3 w
  make_game
  ship_sample
  head -c "$((BIG_MB << 20))" /dev/zero >"$DIST/$name"
  # (awk takes them from the environment, where backslashes stay as they are)
  NAME=$name FOLDER=$folder awk '!done && /^dstpath/ {
      print "dstpath = " ENVIRON["FOLDER"] ";\nfile = \"" ENVIRON["NAME"] "\", 0\n"; done = 1
    } { print }' "$S/made/patch.txt" | sed 's/$/\r/' >"$DIST/patch.txt"
  start_updater patch.txt -L
  w=$(find_window "$PROGRESS")
  [ -n "$w" ] || { echo "no progress dialog; updater output:" >&2; cat "$S/updater.out" >&2; exit 1; }
  sleep "${SCREENSHOTS_PAUSE:-0.3}"
  kill -STOP "$RUN_PID"
  if [ -z "$(xdotool search --onlyvisible --name "^$PROGRESS\$" 2>/dev/null)" ]; then
    kill -CONT "$RUN_PID"
    echo "the copy ended before the screenshot: raise SCREENSHOTS_BIG_MB" >&2
    exit 1
  fi
  capture "$w" "$out"
  kill -CONT "$RUN_PID"
  w=$(find_window " DONE ")
  [ -n "$w" ] && close_with_key "$w" Escape
  rm -f "$DIST/$name"
  find "$GAME" -name "$name" -delete
}

echo "== (a) the sample update with a ${BIG_MB} MB INTRO.AVI: progress dialog"
progress_shot INTRO.AVI __VIDEO "$ROOT/docs/progress.png"

# --- (b) long paths ---------------------------------------------------------
# Paths wider than their boxes lose their middle and keep the file name.
echo "== (b) the same with a long file name in a deep folder: long paths"
progress_shot "Northern Islands - Opening Cinematic (High Quality).AVI" \
  '__VIDEO + "Campaigns\\The Northern Islands\\Cinematics\\"' "$ROOT/docs/longpath.png"

# --- (c) an error box --------------------------------------------------------
# A script whose file directive lacks the comma before its operation. The
# box is owned by the progress dialog, which stays behind it until the run
# ends: the shot is of the screen around both.
echo "== (c) a script with a syntax error: error box"
make_game
printf 'updatetype = 1\r\nbuild = 0, 2\r\nsetbuild = 3\r\ndstpath = __MAIN;\r\nfile = "README.TXT" 0\r\n' \
  >"$DIST/patch.txt"
cp "$ROOT/sample/new/README.TXT" "$DIST/"
printf 'Update to version 1.003.000\r\n' >"$DIST/Report.txt"
start_updater patch.txt
box=$(find_window " ERROR ")
[ -n "$box" ] || { echo "no error box; updater output:" >&2; cat "$S/updater.out" >&2; exit 1; }
sleep 0.5
w=$(xdotool search --onlyvisible --name "^$PROGRESS\$" 2>/dev/null | head -n1 || true)
[ -n "$w" ] || { echo "no progress dialog behind the error box" >&2; exit 1; }
capture_around "$w" "$box" "$ROOT/docs/error.png"
close_with_key "$box" Return

# --- (d) the completion dialog -----------------------------------------------
echo "== (d) the sample update: completion dialog"
make_game
ship_sample
start_updater patch.txt -L -R-skipintro
shoot " DONE " "$ROOT/docs/completion.png" Escape
echo "== registry after the sample update:"
wine reg query 'HKLM\SOFTWARE\Varnholt\Marovex\Directories' /reg:32 | tr -d '\r' | grep -E 'Path'
wine reg query 'HKLM\SOFTWARE\Varnholt\Marovex\Version' /reg:32 | tr -d '\r' | grep -E 'Version'
