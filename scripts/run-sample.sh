#!/bin/sh
# Builds the updater and updkit for Linux, makes the sample update with
# `updkit dist make` from the two versions of the sample game (sample/old at
# 1.002.005, sample/new at 1.003.000) and runs it against an installation of
# the old version made here in build/sample/:
#
#   build/sample/old/, new/     the two versions, each with its record store
#   build/sample/dist/          the update distribution dist make wrote, and the updater
#   build/sample/game/          the installed game (MainPath), version 1.002.005
#   build/sample/registry.reg   the registry stand-in (UPDATER_REGISTRY)
#
# Then prints the update log, the registry's new version and the files.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

. "$ROOT/scripts/lib.sh"

# --- what the build needs, installed only when missing ----------------------
install_missing cmake ninja-build g++ libgtest-dev libgmock-dev

# --- build -----------------------------------------------------------------
build_programs linux

KIT="$ROOT/build/linux/tools/updkit/updkit"

# --- the two versions of the game ------------------------------------------
# The files of sample/old and sample/new; the record store Data/UNITS.DKX of
# each is made from sample/records/<version>/<SECTION>/, one record per file
# under its file name, packed with the LZ method.
S="$ROOT/build/sample"
GAME="$S/game"
DIST="$S/dist"
REG="$S/registry.reg"
rm -rf "$S"
mkdir -p "$S"

# --- the update distribution -----------------------------------------------
# dist make compares the two versions and writes the script, the packages,
# the plain files, the shipped store and the report; the updater joins them.
sample_distribution "$KIT" "$DIST" "$S"
cp "$ROOT/build/linux/app/updater" "$DIST/updater"
echo "== patch.txt"
cat "$DIST/patch.txt"
for pq in "$DIST"/*.PQ; do
  [ -e "$pq" ] || continue
  echo "== package $(basename "$pq")"
  "$KIT" pkg list "$pq"
done
echo "== record store UNITS.DKX (shipped)"
"$KIT" store list "$DIST/UNITS.DKX"

# --- the installed game: the old version -----------------------------------
cp -r "$S/old" "$GAME"
mkdir -p "$GAME/Sound" "$GAME/Music" "$GAME/Video"
chmod a-w "$GAME/Data/UNITS/units.txt"   # a read-only file is replaced too
# The game's stand-in: it says how it was started.
cat > "$GAME/MX.exe" <<'GAMEEOF'
#!/bin/sh
echo "MX.exe started with: $*"
GAMEEOF
chmod +x "$GAME/MX.exe"

cat > "$REG" <<REGEOF
REGEDIT4

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnholt\\Marovex\\Directories]
"MainPath"="$GAME/"
"VideoPath"="$GAME/Video/"
"DataPath"="$GAME/Data/"
"SoundPath"="$GAME/Sound/"
"MusicPath"="$GAME/Music/"
"InstPath"="$DIST/"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnholt\\Marovex\\Version]
"Version"=dword:01020005
"Type"=dword:d0dd0001
"Folder"="Marovex"
"LastPlayer"="Player One"
"CharSet"=dword:00000001
"Server"=""
REGEOF

# --- run ---------------------------------------------------------------------
echo "== running: updater patch.txt -L -R-skipintro   (in $DIST)"
status=0
(cd "$DIST" && UPDATER_REGISTRY="$REG" ./updater patch.txt -L -R-skipintro </dev/null) || status=$?

echo
echo "== update log ($DIST/updlog.txt)"
cat "$DIST/updlog.txt" 2>/dev/null | tr -d '\r' || echo "(no log)"
echo
echo "== result"
echo "exit status: $status"
K='SOFTWARE\Varnholt\Marovex\Version'
for name in Version Type; do
  echo "registry $name: $("$KIT" registry --registry "$REG" get "$K" "$name")"
done
echo "record store $GAME/Data/UNITS.DKX:"
"$KIT" store verify "$GAME/Data/UNITS.DKX" | sed 's/^/  verify: /'
"$KIT" store list "$GAME/Data/UNITS.DKX" | sed 's/^/  /'
echo "game folder:"
(cd "$GAME" && find . -type f | sort | sed 's/^/  /')
exit "$status"
