# Shell functions the scripts of this folder share; sourced, POSIX sh.

# Installs those of the Debian packages named that are not installed yet
# (apt-get runs only when one is missing; nothing is tried on a system
# without dpkg).
install_missing() {
  command -v dpkg-query >/dev/null 2>&1 || return 0
  missing=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
  done
  [ -n "$missing" ] || return 0
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  echo "== installing:$missing"
  $SUDO apt-get update -qq
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
}

# Configures preset $1 and builds the two programs in it (ninja does nothing
# when they are up to date).
build_programs() {
  echo "== building updater and updkit (preset $1)"
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" --target updater updkit
}

# Makes the sample update distribution in folder $2 with the updkit at $1:
# the script and shipped files of sample/, the update package ADDONS.PQ
# built from sample/package/ and the record store UNITS.DKX/.DKD built from
# sample/records/ (section M_USER, LZ-packed). The updater itself is not
# put there. $ROOT is the project's folder.
sample_distribution() {
  mkdir -p "$2"
  cp "$ROOT/sample/patch.txt" "$2/"
  cp -r "$ROOT/sample/files/." "$2/"
  "$1" pkg build "$2/ADDONS.PQ" --from "$ROOT/sample/package" --lz
  "$1" store create "$2/UNITS.DKX"
  "$1" store import "$2/UNITS.DKX" M_USER "$ROOT/sample/records" --pack 1 >/dev/null
}
