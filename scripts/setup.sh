#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need.
# Packages already installed are skipped; apt-get runs only when one is missing.
set -euo pipefail
packages=(
  cmake ninja-build g++ make pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev liblz4-dev liblmdb-dev libsqlite3-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64 mingw-w64-tools
  wine wine64 xvfb xauth
  imagemagick
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${missing[@]}"
fi
