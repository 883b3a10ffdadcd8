#!/usr/bin/env bash
# Sets up the machine, builds every preset and runs every test: the fuzz
# targets for a minute each, the benchmarks once on a small size, then the
# tests natively, with sanitizers and under Wine. Fails on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

echo "=== fuzz targets (60 s each)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs" --target upd_fuzz
for target in build/fuzz/fuzz/*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  echo "--- $(basename "$target")"
  corpus="build/fuzz/corpus/$(basename "$target")"
  mkdir -p "$corpus"
  "$target" -max_total_time=60 -print_final_stats=0 "$corpus" 2>&1 | tail -n 3
done

echo "=== benchmarks (once, small)"
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j "$jobs"
for bench in build/linux-release/bench/*_bench; do
  [ -x "$bench" ] || continue
  UPD_BENCH_SMALL=1 "$bench" --benchmark_min_time=0.01
done

for preset in linux linux-asan windows; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
