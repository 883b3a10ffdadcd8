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
