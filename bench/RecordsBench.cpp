// A record update of the size a large patch brings: 100,000 records merged
// into a game store of 100,000 (half of them replaced, half added) by
// CopyStoreRecords, which works on copies of the store's files and flushes
// and renames them over it, beside the same merge made straight in the
// store's own files, with no copies and no flushes. The time is wall-clock
// time (flushes wait for the disk, not the processor); after the runs the
// cost of replacing the store whole is printed as a ratio.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Mf32int.h"
#include "tests/support/Pattern.h"
#include "update/Operations.h"
#include "update/StoreRecordsInPlace.h"

namespace {

namespace fs = std::filesystem;

// The shipped store holds units n/2 .. 3n/2, the game's store units 0 .. n,
// each record 64 to 191 bytes of bitmap-like bytes, packed by RLE as a game
// store's sprites are; the game's store is kept aside to be put back before
// every run.
struct Stores {
  fs::path dir =
      fs::temp_directory_path() / ("records_bench_" + std::to_string(std::random_device{}()));
  std::string src = (dir / "SHIP.DKX").string();
  std::string dst = (dir / "UNITS.DKX").string();

  explicit Stores(int n) {
    fs::create_directories(dir);
    Fill(src, n / 2, n / 2 + n);
    Fill(dst, 0, n);
    fs::copy_file(dir / "UNITS.DKX", dir / "KEPT.DKX");
    fs::copy_file(dir / "UNITS.DKD", dir / "KEPT.DKD");
  }
  ~Stores() { fs::remove_all(dir); }

  static void Fill(const std::string& path, int from, int to) {
    Guard([&] {
      cMf32* h = cMf32::Open(path.c_str(), MFO_CREATE, 0, 0);
      for (int i = from; i < to; ++i) {
        std::string bytes = std::string(32 + i % 96, static_cast<char>('a' + i % 7)) +
                            testing_support::Pattern(32 + i % 32, static_cast<uint32_t>(i));
        std::string name = "UNIT_" + std::to_string(i);
        h->RecPut(static_cast<uint8_t>(6 + i % 3), name.c_str(), bytes.data(),
                  static_cast<int32_t>(bytes.size()), nullptr, 2, nullptr);
      }
      delete h;
    });
  }
  void Reset() {
    for (const char* ext : {".DKX", ".DKD"}) {
      fs::copy_file(dir / ("KEPT" + std::string(ext)), dir / ("UNITS" + std::string(ext)),
                    fs::copy_options::overwrite_existing);
    }
  }
};

double g_seconds[2];  // mean wall-clock time of one merge: in place, whole

template <class Merge>
void Run(benchmark::State& state, Merge merge, double* mean) {
  Stores s(static_cast<int>(state.range(0)));
  double total = 0;
  for (auto _ : state) {
    state.PauseTiming();
    s.Reset();
    state.ResumeTiming();
    auto start = std::chrono::steady_clock::now();
    QuietSink ui;
    if (merge(ui, s.src.c_str(), s.dst.c_str()) != 0) state.SkipWithError("the merge failed");
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  *mean = total / static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Merge_InPlace(benchmark::State& state) {
  Run(state, CopyStoreRecordsInPlace, &g_seconds[0]);
}
void BM_Merge_Whole(benchmark::State& state) { Run(state, CopyStoreRecords, &g_seconds[1]); }

}  // namespace

BENCHMARK(BM_Merge_InPlace)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Merge_Whole)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g_seconds[0] > 0 && g_seconds[1] > 0) {
    std::printf("\nmerge in place %.0f ms, whole (copies, flushes, renames) %.0f ms: %.2f times\n",
                1000 * g_seconds[0], 1000 * g_seconds[1], g_seconds[1] / g_seconds[0]);
  }
  return 0;
}
