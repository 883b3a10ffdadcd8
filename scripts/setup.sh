#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need.
# Packages already installed are skipped; apt-get runs only when one is missing.
set -euo pipefail
packages=(
  cmake ninja-build g++ make pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev liblz4-dev liblmdb-dev libsqlite3-dev time
  clang libclang-rt-14-dev clang-format
  g++-mingw-w64-x86-64 mingw-w64-tools
  wine wine64 xvfb xauth
  imagemagick
)
. "$(dirname "$0")/lib.sh"
install_missing "${packages[@]}"
