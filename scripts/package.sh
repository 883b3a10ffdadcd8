#!/bin/sh
# Builds the release archives into OUTDIR, from the optimized release builds
# (presets linux-release and windows-release), with CMake's install rules
# and CPack:
#
#   updater-<version>-windows.zip    updater.exe, updkit.exe, README.md, sample/
#   updater-<version>-linux.tar.gz   bin/updater, bin/updkit, README.md, sample/
#
# Each unpacks into a folder of the archive's name. sample/ is the sample
# update as a distribution (script, shipped files, package and record store);
# put the updater beside patch.txt to run it. The programs are stripped and
# statically linked on Windows. The updater ships in every update
# distribution, so a released updater.exe above 1.5 MiB fails the run.
set -eu

if [ $# -ne 1 ]; then
  echo "usage: scripts/package.sh OUTDIR" >&2
  exit 2
fi
ROOT=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
OUT=$(cd "$1" && pwd)
cd "$ROOT"
. "$ROOT/scripts/lib.sh"
install_missing cmake ninja-build g++ g++-mingw-w64-x86-64 mingw-w64-tools

# The Linux programs first: their updkit makes the sample distribution that
# both archives carry (packages and stores are the same bytes everywhere).
SAMPLE="$ROOT/build/release-sample"
echo "== linux-release"
cmake --preset linux-release -DUPD_BENCH=OFF -DUPD_SAMPLE_DISTRIBUTION="$SAMPLE" >/dev/null
cmake --build --preset linux-release --target updater updkit
rm -rf "$SAMPLE"
sample_distribution "$ROOT/build/linux-release/tools/updkit/updkit" "$SAMPLE" "$ROOT/build/release-sample-versions"

echo "== windows-release"
cmake --preset windows-release -DUPD_SAMPLE_DISTRIBUTION="$SAMPLE" >/dev/null
cmake --build --preset windows-release --target updater updkit

for preset in linux-release windows-release; do
  echo "== archive of $preset"
  cpack --config "build/$preset/CPackConfig.cmake" -B "$OUT"
done

# CPack leaves the stripped programs in its staging folder: the size that
# ships is measured there.
exe=$(find "$OUT/_CPack_Packages" -name updater.exe -type f | head -n 1)
size=$(wc -c < "$exe")
limit=$((3 * 1024 * 1024 / 2))
echo "== released updater.exe: $size bytes (at most $limit)"
rm -rf "$OUT/_CPack_Packages"
if [ "$size" -gt "$limit" ]; then
  echo "updater.exe is larger than 1.5 MiB" >&2
  exit 1
fi
ls -l "$OUT"/updater-*
