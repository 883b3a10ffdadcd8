#!/usr/bin/env bash
# Sets up the machine, builds every preset and runs every test: the fuzz
# targets for a minute each, the benchmarks once on a small size, the
# release archives (scripts/package.sh), whose contents it checks, and last
# the tests natively, with sanitizers and under Wine, so that the run ends
# with CTest's summary. Fails on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

echo "=== format (clang-format, .clang-format)"
{ git ls-files '*.cpp' '*.h' 2>/dev/null || find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print; } \
  | xargs clang-format --dry-run --Werror

echo "=== fuzz targets (60 s each)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
for target in build/fuzz/fuzz/*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  echo "--- $(basename "$target")"
  corpus="build/fuzz/corpus/$(basename "$target")"
  artifacts="build/fuzz/artifacts/$(basename "$target")/"
  mkdir -p "$corpus" "$artifacts"
  # A finding fails the run; its input is kept in $artifacts.
  "$target" -max_total_time=60 -artifact_prefix="$artifacts" "$corpus" > "build/fuzz/$(basename "$target").log" 2>&1 \
    || { tail -n 40 "build/fuzz/$(basename "$target").log"; exit 1; }
  tail -n 2 "build/fuzz/$(basename "$target").log"
done

echo "=== benchmarks (once, small)"
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j "$jobs"
for bench in build/linux-release/bench/*_bench; do
  [ -x "$bench" ] || continue
  "$bench" --benchmark_min_time=0.01
done

echo "=== release archives (scripts/package.sh)"
scripts/package.sh build/release
version=$(build/linux-release/tools/updkit/updkit --version | sed 's/^updkit //')
# Every archive holds a folder of its own name with the programs, the README
# and the sample distribution; the Linux programs run from it.
check_archive() {
  archive="build/release/$1.$2"
  shift 2
  [ -f "$archive" ] || { echo "missing $archive"; exit 1; }
  listing=$(cmake -E tar tf "$archive")
  echo "$listing"
  top=$(basename "$archive" | sed 's/\.\(zip\|tar\.gz\)$//')
  for entry in "$@" README.md sample/patch.txt sample/Report.txt sample/MAIN.PQ \
    sample/UNITS.DKX sample/UNITS.DKD; do
    grep -qx "$top/$entry" <<<"$listing" || { echo "$archive lacks $top/$entry"; exit 1; }
  done
}
check_archive "updater-$version-windows" zip updater.exe updkit.exe
check_archive "updater-$version-linux" tar.gz bin/updater bin/updkit
rm -rf build/release/unpacked && mkdir -p build/release/unpacked
(cd build/release/unpacked && cmake -E tar xf "../updater-$version-linux.tar.gz")
[ "$(build/release/unpacked/updater-$version-linux/bin/updkit --version)" = "updkit $version" ]

# The tests last, so that the run ends with their summary.
for preset in linux linux-asan windows; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
