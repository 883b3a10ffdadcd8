// `updkit dist make` on a game of 300 MiB with a record store of 100,000
// records, beside building what it ships with the commands an author had
// before it: `updkit pkg build --lz` for each package, a copy of each file
// shipped as it is, and `updkit store create` and `store import` for the
// shipped store (the files and records staged for them beforehand, outside
// the time). dist make also compares the two games whole, which the others
// are spared. The times are wall-clock times of the programs; the counter
// x_commands is dist make's time as a multiple of the commands'.
//
// The two games, OLD and NEW (NEW's sizes):
//   MAIN   400 text files of 100 KiB, half of them changed      -> MAIN.PQ
//   Data  1000 text files of 100 KiB, a third changed, 100 new  -> DATA.PQ
//          UNITS.DKX: 100,000 records of 64 to 191 bytes in three sections
//          (RLE, LZ, unpacked), half of them changed, 10,000 new
//   Sound  120 noise files of 500 KiB, a quarter changed        -> as they are
//   Video  one noise file of 80 MiB, changed                     -> as it is
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Mf32int.h"
#include "platform/Env.h"
#include "tests/support/Pattern.h"
#include "update/PackageFormat.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kKiB = 1024;
constexpr int kRecords = 100000;
const char* const kSectionPack[][2] = {{"6", "2"}, {"7", "1"}, {"8", "0"}};

// A megabyte of words from a small vocabulary; files are slices of it.
const std::string& Text() {
  static const std::string text = [] {
    static const char* kWords[] = {"the ",  "record ", "store ", "update ", "of ",
                                   "game ", "file ",   "and ",   "unit ",   "map ",
                                   "\r\n",  "tank ",   "scout ", "speed ",  "armour "};
    std::mt19937 g(1);
    std::string t;
    while (t.size() < (1 << 20)) {
      t += kWords[g() % (sizeof kWords / sizeof kWords[0])];
      if (g() % 16 == 0) t += std::to_string(g() % 100000);
    }
    return t;
  }();
  return text;
}

std::string TextFile(size_t n, int seed, int version) {
  std::string head =
      "file " + std::to_string(seed) + " version " + std::to_string(version) + "\r\n";
  return head + Text().substr((static_cast<size_t>(seed) * 7919) % (Text().size() - n), n);
}

void Write(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  // A time of day that package entries can carry, whenever the bench runs.
  pkg::SystemTime t;
  t.year = 2003;
  t.month = 5;
  t.day = 6;
  t.hour = 10;
  uint64_t ft = 0;
  std::unique_ptr<plat::File> f;
  if (!pkg::SystemTimeToFileTime(t, &ft) ||
      plat::Env::Default()->Open(path.string().c_str(), plat::Access::ReadWrite, plat::Share::None,
                                 plat::Disposition::OpenExisting, plat::ATTR_NORMAL, &f) != 0 ||
      f->SetTimes(plat::FileTimes{0, 0, ft}) != 0) {
    std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
    std::exit(1);
  }
}

std::string Record(int i, int version) {
  return std::string(32 + i % 96, static_cast<char>('a' + (i + version) % 7)) +
         testing_support::Pattern(32 + i % 32, static_cast<uint32_t>(i * 3 + version));
}

int Run(const std::string& command) { return std::system((command + " >/dev/null").c_str()); }

std::string Q(const fs::path& p) { return "'" + p.string() + "'"; }

struct Games {
  fs::path dir =
      fs::temp_directory_path() / ("dist_bench_" + std::to_string(std::random_device{}()));
  fs::path old = dir / "old", nu = dir / "new", stage = dir / "stage", out = dir / "out";

  Games() {
    std::vector<std::string> stores[2];
    for (int i = 0; i < 400; ++i) {
      Write(old / "MAIN" / ("m" + std::to_string(i) + ".txt"), TextFile(100 * kKiB, i, 0));
      Both(fs::path("MAIN") / ("m" + std::to_string(i) + ".txt"), TextFile(100 * kKiB, i, i % 2),
           i % 2 != 0, "MAIN");
    }
    for (int i = 0; i < 1100; ++i) {
      const fs::path rel =
          fs::path("Data") / ("d" + std::to_string(i % 10)) / ("f" + std::to_string(i) + ".dat");
      if (i < 1000) Write(old / rel, TextFile(100 * kKiB, 1000 + i, 0));
      Both(rel, TextFile(100 * kKiB, 1000 + i, i % 3 == 0 ? 1 : 0), i % 3 == 0 || i >= 1000, "DATA",
           fs::path("d" + std::to_string(i % 10)) / rel.filename());
    }
    for (int i = 0; i < 120; ++i) {
      const fs::path rel = fs::path("Sound") / ("s" + std::to_string(i) + ".wav");
      Write(old / rel, testing_support::Pattern(500 * kKiB, static_cast<uint32_t>(i)));
      Both(rel,
           testing_support::Pattern(500 * kKiB, static_cast<uint32_t>(i + (i % 4 == 0 ? 1000 : 0))),
           i % 4 == 0, "PLAIN");
    }
    Write(old / "Video" / "intro.avi", testing_support::Pattern(80 << 20, 1));
    Both(fs::path("Video") / "intro.avi", testing_support::Pattern(80 << 20, 2), true, "PLAIN");
    MakeStore(old / "Data" / "UNITS.DKX", 0);
    MakeStore(nu / "Data" / "UNITS.DKX", 1);
  }
  ~Games() { fs::remove_all(dir); }

  // Writes rel into NEW; one that ships is also staged for the commands.
  void Both(const fs::path& rel, const std::string& bytes, bool ships, const char* stageFolder,
            fs::path staged = {}) {
    Write(nu / rel, bytes);
    if (!ships) return;
    const fs::path at = stage / stageFolder / (staged.empty() ? rel.filename() : staged);
    fs::create_directories(at.parent_path());
    fs::create_hard_link(nu / rel, at);
  }

  // The store of one version: records 0..89,999 in OLD; in NEW the odd ones
  // changed and 90,000..99,999 new, those staged as files per section.
  void MakeStore(const fs::path& path, int version) {
    Guard([&] {
      std::unique_ptr<cMf32> h(cMf32::Open(path.string().c_str(), MFO_CREATE, 0, 0));
      const int count = version == 0 ? kRecords - kRecords / 10 : kRecords;
      for (int i = 0; i < count; ++i) {
        const bool changed = version == 1 && (i % 2 == 1 || i >= kRecords - kRecords / 10);
        const std::string bytes = Record(i, changed ? 1 : 0);
        const std::string name = "UNIT_" + std::to_string(i);
        const auto& sp = kSectionPack[i % 3];
        h->RecPut(static_cast<uint8_t>(std::atoi(sp[0])), name.c_str(), bytes.data(),
                  static_cast<int32_t>(bytes.size()), nullptr, std::atoi(sp[1]), nullptr);
        if (changed) {
          const fs::path file = stage / "records" / sp[0] / name;
          fs::create_directories(file.parent_path());
          std::ofstream(file, std::ios::binary)
              .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
      }
    });
  }

  int DistMake() const {
    fs::remove_all(out);
    return Run(std::string(UPD_UPDKIT) + " dist make " + Q(old) + " " + Q(nu) + " " + Q(out) +
               " --from 1.002.005 --to 1.003.000");
  }

  int Commands() const {
    fs::remove_all(out);
    fs::create_directories(out);
    const std::string kit = UPD_UPDKIT;
    int rc =
        Run(kit + " pkg build " + Q(out / "MAIN.PQ") + " --from " + Q(stage / "MAIN") + " --lz");
    rc |= Run(kit + " pkg build " + Q(out / "DATA.PQ") + " --from " + Q(stage / "DATA") + " --lz");
    // Copied as `cp` + `sync FILE` would: every file the kit writes is
    // flushed to the disk before it is named, dist make's copies too.
    for (const auto& e : fs::directory_iterator(stage / "PLAIN")) {
      const fs::path to = out / e.path().filename();
      fs::copy_file(e.path(), to);
      std::unique_ptr<plat::File> f;
      if (plat::Env::Default()->Open(to.string().c_str(), plat::Access::ReadWrite,
                                     plat::Share::None, plat::Disposition::OpenExisting,
                                     plat::ATTR_NORMAL, &f) != 0 ||
          f->Flush() != 0) {
        rc |= 1;
      }
    }
    rc |= Run(kit + " store create " + Q(out / "UNITS.DKX"));
    for (const auto& sp : kSectionPack) {
      rc |= Run(kit + " store import " + Q(out / "UNITS.DKX") + " " + sp[0] + " " +
                Q(stage / "records" / sp[0]) + " --pack " + sp[1]);
    }
    return rc;
  }
};

Games& TheGames() {
  static Games games;
  return games;
}

double Seconds(const Games& g, int (Games::*run)() const, benchmark::State& state) {
  auto start = std::chrono::steady_clock::now();
  if ((g.*run)() != 0) state.SkipWithError("a command failed");
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Each iteration runs the commands and then dist make, so that both meet
// the same load of the machine; the time is dist make's, the counters give
// both and their ratio.
void BM_DistMake(benchmark::State& state) {
  Games& g = TheGames();
  double commands = 0, make = 0;
  for (auto _ : state) {
    commands += Seconds(g, &Games::Commands, state);
    const double seconds = Seconds(g, &Games::DistMake, state);
    make += seconds;
    state.SetIterationTime(seconds);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["commands_s"] = commands / n;
  state.counters["dist_make_s"] = make / n;
  state.counters["x_commands"] = make / commands;
}

}  // namespace

BENCHMARK(BM_DistMake)->Unit(benchmark::kMillisecond)->UseManualTime();

BENCHMARK_MAIN();
