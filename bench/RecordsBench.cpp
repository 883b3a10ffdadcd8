// Operation 1, the record update, beside the plainest copy of the same
// records: one pass over the shipped store's keys with RecGet and RecPut
// straight into the game's store, with no sections, logging, progress,
// copies, flushes or renames. Three cases: every shipped record into an empty
// store, every record replacing one of the same key, and half of them
// replacing, half added (there beside the same merge made straight in the
// store's own files, which shows what replacing the store whole costs).
//
// The records are 64 to 191 bytes of bitmap-like bytes, packed by LZ and RLE
// in turn as a game store's sprites are, so that both sides unpack and pack
// every record. The time is wall-clock time: the flushes wait for the disk.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <string>

#include "bench/BenchRounds.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Mf32int.h"
#include "ourlib/src/Pack.h"
#include "ourlib/src/SectionNames.h"
#include "tests/support/Pattern.h"
#include "update/Operations.h"
#include "update/StoreRecordsInPlace.h"

namespace {

namespace fs = std::filesystem;

int RecordCount() { return static_cast<int>(bench::Size(5000, 100000)); }

// Fills a new store with units from..to; `variant` changes the bytes and
// lengths, so that a replaced record does not simply fit its old block.
void Fill(const fs::path& path, int from, int to, int variant) {
  Guard([&] {
    cMf32* h = cMf32::Open(path.string().c_str(), MFO_CREATE, 0, 0);
    for (int i = from; i < to; ++i) {
      int v = i + variant;
      std::string bytes = std::string(32 + v % 96, static_cast<char>('a' + v % 7)) +
                          testing_support::Pattern(32 + v % 32, static_cast<uint32_t>(v));
      std::string name = "UNIT_" + std::to_string(i);
      h->RecPut(static_cast<uint8_t>(6 + i % 3), name.c_str(), bytes.data(),
                static_cast<int32_t>(bytes.size()), nullptr, PACK_LZ + i % 2, nullptr);
    }
    delete h;
  });
}

// The shipped store and the game's store as it is before every run (KEPT),
// put back under the name the run writes (UNITS) before each.
struct Stores {
  fs::path dir =
      fs::temp_directory_path() / ("records_bench_" + std::to_string(std::random_device{}()));
  std::string src = (dir / "SHIP.DKX").string();
  std::string dst = (dir / "UNITS.DKX").string();

  // game: the units the game's store holds beforehand, [from, to).
  Stores(int n, int from, int to) {
    fs::create_directories(dir);
    Fill(dir / "SHIP.DKX", n / 2, n / 2 + n, 0);
    Fill(dir / "KEPT.DKX", from, to, 1);
  }
  ~Stores() { fs::remove_all(dir); }
  Stores(const Stores&) = delete;
  Stores& operator=(const Stores&) = delete;

  void Reset() {
    for (const char* ext : {".DKX", ".DKD"}) {
      fs::copy_file(dir / ("KEPT" + std::string(ext)), dir / ("UNITS" + std::string(ext)),
                    fs::copy_options::overwrite_existing);
    }
  }
};

// The yardstick: every keyed record but those of section 255, in key order,
// read and written back under its key with its info and pack method.
int PlainCopy(ProgressSink&, const char* source, const char* destination) {
  return Guard([&] {
    cMf32* src = cMf32::Open(source, MFO_READ, 0, 0);
    cMf32* dst = cMf32::Open(destination, MFO_UPDATE, 0, 0);
    src->ToBeg(nullptr, nullptr);
    while (const uint8_t* key = src->RecKeyGetNext(nullptr)) {
      if (RecKeySection(key) == SECTION_ALL) break;
      void* record = src->RecGet(RecKeySection(key), RecKeyName(key), nullptr, 1);
      dst->RecPut(RecKeySection(key), RecKeyName(key), record, RecKeyUnpackedLength(key),
                  RecKeyInfo(key), RecKeyPack(key), nullptr);
      src->RecMemFree(&record);
    }
    delete src;
    delete dst;
  });
}

// The game's store before the run: empty, the shipped units (all replaced),
// or units 0..n (half replaced, half added).
enum Game { kEmpty, kSame, kHalf };

template <int (*Copy)(ProgressSink&, const char*, const char*), Game game>
void BM_Copy(benchmark::State& state) {
  const int n = RecordCount();
  Stores s(n,
           game == kEmpty  ? 0
           : game == kSame ? n / 2
                           : 0,
           game == kEmpty  ? 0
           : game == kSame ? n / 2 + n
                           : n);
  for (auto _ : state) {
    state.PauseTiming();
    s.Reset();
    state.ResumeTiming();
    QuietSink ui;
    if (Copy(ui, s.src.c_str(), s.dst.c_str()) != 0) state.SkipWithError("the copy failed");
  }
  state.SetItemsProcessed(state.iterations() * n);
}

}  // namespace

#define UPD_COPY(name, Copy, game) \
  BENCHMARK_TEMPLATE(BM_Copy, Copy, game)->Name(name)->Unit(benchmark::kMillisecond)->UseRealTime()
UPD_COPY("BM_Op1_Empty", CopyStoreRecords, kEmpty);
UPD_COPY("BM_Plain_Empty", PlainCopy, kEmpty);
UPD_COPY("BM_Op1_Replace", CopyStoreRecords, kSame);
UPD_COPY("BM_Plain_Replace", PlainCopy, kSame);
UPD_COPY("BM_Op1_Merge", CopyStoreRecords, kHalf);
UPD_COPY("BM_Op1_MergeInPlace", CopyStoreRecordsInPlace, kHalf);

int main(int argc, char** argv) {
  return bench::Main(argc, argv, bench::Clock::kReal,
                     {
                         {"operation 1 into an empty store / plain iterate + `RecGet` + `RecPut`",
                          "BM_Op1_Empty", "BM_Plain_Empty", true, 1.5},
                         {"operation 1, every record replaced / the same", "BM_Op1_Replace",
                          "BM_Plain_Replace", true, 1.5},
                         {"operation 1, half replaced: on copies / straight into the files",
                          "BM_Op1_Merge", "BM_Op1_MergeInPlace", true, 1.5},
                     });
}
