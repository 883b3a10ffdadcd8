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

# Makes the sample update distribution in folder $2 (which must not exist)
# with the updkit at $1: the two versions of the sample game (sample/old at
# 1.002.005, sample/new at 1.003.000), each with its record store
# Data/UNITS.DKX made from sample/records/<version>/<SECTION>/ (one record
# per file under its file name, LZ-packed), are put in folder $3, and
# `updkit dist make` writes the update between them. The updater itself is
# not put there. $ROOT is the project's folder.
sample_distribution() {
  for v in old new; do
    rm -rf "${3:?}/$v"
    mkdir -p "$3"
    cp -r "$ROOT/sample/$v" "$3/$v"
    "$1" store create "$3/$v/Data/UNITS.DKX"
    for section in "$ROOT/sample/records/$v"/*/; do
      "$1" store import "$3/$v/Data/UNITS.DKX" "$(basename "$section")" "$section" --pack 1 >/dev/null
    done
  done
  echo "== updkit dist make $3/old $3/new $2"
  "$1" dist make "$3/old" "$3/new" "$2" --from 1.002.005 --to 1.003.000
}
