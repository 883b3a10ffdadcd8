#!/bin/sh
# Builds the updater for Linux and runs it on the bundled sample update
# (sample/) against a game installation made here in build/sample/:
#
#   build/sample/game/        the installed game (MainPath), version 1.002.005
#   build/sample/registry.reg the registry stand-in (UPDATER_REGISTRY)
#   build/sample/dist/        the update distribution: updater, script, files
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

# --- the sample game installation ------------------------------------------
S="$ROOT/build/sample"
GAME="$S/game"
DIST="$S/dist"
REG="$S/registry.reg"
rm -rf "$S"
mkdir -p "$GAME/Data/UNITS" "$GAME/Sound" "$GAME/Music" "$GAME/Video" "$DIST"

printf 'Marovex - version 1.002.005\n' > "$GAME/README.TXT"
printf '; name cost speed armour\nscout 15 5 1\n' > "$GAME/Data/UNITS/units.txt"
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

# --- the update distribution -----------------------------------------------
# The shipped files, the report and the log live in the updater's own folder:
# the script, the files, the update package (every file below sample/package/
# with its folder) and the record store that updates the game's (the records
# of sample/records/ in section 128, M_USER, packed with the LZ method).
KIT="$ROOT/build/linux/tools/updkit/updkit"
cp "$ROOT/build/linux/app/updater" "$DIST/updater"
sample_distribution "$KIT" "$DIST"
echo "== package ADDONS.PQ"
"$KIT" pkg list "$DIST/ADDONS.PQ"

# The game's record store.
printf 'scout: cost 12 (old)\n' > "$S/old-scout"
printf 'the game keeps this record: it is not in the update\n' > "$S/old-intro"
"$KIT" store create "$GAME/Data/UNITS.DKX"
"$KIT" store put "$GAME/Data/UNITS.DKX" M_USER scout "$S/old-scout"
"$KIT" store put "$GAME/Data/UNITS.DKX" M_ANY intro "$S/old-intro"
echo "== record store UNITS.DKX (shipped)"
"$KIT" store list "$DIST/UNITS.DKX"

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
for name in Version Type Server; do
  echo "registry $name: $("$KIT" registry --registry "$REG" get "$K" "$name")"
done
echo "record store $GAME/Data/UNITS.DKX:"
"$KIT" store verify "$GAME/Data/UNITS.DKX" | sed 's/^/  verify: /'
"$KIT" store list "$GAME/Data/UNITS.DKX" | sed 's/^/  /'
echo "game folder:"
(cd "$GAME" && find . -type f | sort | sed 's/^/  /')
exit "$status"
