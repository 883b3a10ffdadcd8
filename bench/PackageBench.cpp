// Building and installing whole folders beside the tools a person would use
// instead: `updkit pkg build --lz` beside `tar -czf`, the install of that
// package (operation 2) beside `tar -xzf`, the copy of one large file
// (operation 0) beside `cp`, and the peak memory of `updkit lz pack` beside
// `gzip -6`. The game folder is made of the corpus (bench/Corpus.h) fifteen
// times over in files of 64 KiB to 3 MiB; the copied file is five corpora.
// Three rounds, ours and the peer's one after the other in each; the table
// gives the medians of the wall-clock times (what a person waits for) and,
// for the programs, their processor time. The programs are measured by
// /usr/bin/time (Debian package "time").
//
//   UPD_BENCH_MIB=20 build/linux-release/bench/package_bench
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/Corpus.h"
#include "update/Operations.h"
#include "update/Progress.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
constexpr int kRounds = 3;

struct Measure {
  double wall = 0;   // seconds
  double cpu = 0;    // seconds, the program and what it started
  long peakKiB = 0;  // resident, the largest of them
  bool ok = false;
};

// Runs a program (argv[0] found on PATH) to its end and measures it, its
// output to outPath when given ("-": none).
Measure RunMeasured(const std::vector<std::string>& args, const std::string& outPath) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath == "-" ? "/dev/null" : outPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  Measure m;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) == pid) {
      m.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      m.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
              double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
      m.peakKiB = usage.ru_maxrss;
      m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
  }
  posix_spawn_file_actions_destroy(&actions);
  return m;
}

// The same through /usr/bin/time: a process started straight from this
// one would be charged this one's resident size as its own peak.
std::string g_result;
Measure Spawn(const std::vector<std::string>& args, const std::string& outPath = "-") {
  std::vector<std::string> all = {"/usr/bin/time", "-f", "%e %U %S %M %x", "-o", g_result};
  all.insert(all.end(), args.begin(), args.end());
  Measure m;
  const double wall = RunMeasured(all, outPath).wall;  // /usr/bin/time's own is in 10 ms
  std::ifstream in(g_result);
  double user = 0, system = 0;
  int status = -1;
  in >> m.wall >> user >> system >> m.peakKiB >> status;
  m.wall = wall;
  m.cpu = user + system;
  m.ok = !in.fail() && status == 0;
  return m;
}

// Runs a function of this program, timed.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Measure InProcess(const std::function<bool()>& run) {
  Measure m;
  const double cpu = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  m.ok = run();
  m.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.cpu = CpuSeconds() - cpu;
  return m;
}

struct Setup {
  fs::path dir =
      fs::temp_directory_path() / ("package_bench_" + std::to_string(std::random_device{}()));
  fs::path game = dir / "game";  // the folder that is packed
  fs::path ship = dir / "ship";  // where the updater finds its files
  fs::path corpus = dir / "corpus.bin";
  uint64_t gameBytes = 0, bigBytes = 0, corpusBytes = 0;

  Setup() {
    fs::create_directories(ship);
    const size_t size = corpus::TotalSize();
    std::vector<corpus::Part> parts = corpus::Make(size);
    {
      std::ofstream c(corpus, std::ios::binary);
      std::ofstream big(ship / "BIG.DAT", std::ios::binary);
      for (const corpus::Part& p : parts) {
        c.write(reinterpret_cast<const char*>(p.bytes.data()), std::streamsize(p.bytes.size()));
        corpusBytes += p.bytes.size();
      }
      for (int copy = 0; copy < 5; ++copy) {
        for (const corpus::Part& p : parts) {
          big.write(reinterpret_cast<const char*>(p.bytes.data()), std::streamsize(p.bytes.size()));
          bigBytes += p.bytes.size();
        }
      }
    }
    // Fifteen corpora in files, each file cut from one part, the parts in
    // folders of their own; copies start at different places of a part.
    static const char* kFolder[] = {"TEXT", "BIN", "ART"};
    static const char* kExtension[] = {".TXT", ".DLL", ".BMP"};
    static const size_t kSizes[] = {64 << 10, 256 << 10, 1 << 20, 3 << 20};
    int file = 0;
    for (int copy = 0; copy < 15; ++copy) {
      for (size_t k = 0; k < parts.size(); ++k) {
        const corpus::Bytes& b = parts[k].bytes;
        const fs::path folder = game / kFolder[k] / ("SET" + std::to_string(copy % 4));
        fs::create_directories(folder);
        size_t at = 0;
        const size_t shift = (size_t(copy) * 7919) % (b.size() / 2 + 1);
        while (at < b.size()) {
          const size_t n = std::min(kSizes[file % 4], b.size() - at);
          std::ofstream f(folder / ("F" + std::to_string(file++) + kExtension[k]),
                          std::ios::binary);
          const size_t from = (at + shift) % b.size(), first = std::min(n, b.size() - from);
          f.write(reinterpret_cast<const char*>(b.data() + from), std::streamsize(first));
          f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(n - first));
          gameBytes += n;
          at += n;
        }
      }
    }
  }
  ~Setup() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  Setup(const Setup&) = delete;
  Setup& operator=(const Setup&) = delete;
};

Setup* g_setup = nullptr;

struct Row {
  const char* what;
  const char* peer;
  std::function<Measure()> ours, theirs;
  bool memory = false;  // compared by peak memory, not time
  bool beside = false;  // shown beside the row before it, no target of its own
};

std::vector<Row> MakeRows() {
  const Setup& s = *g_setup;
  const std::string updkit = UPD_UPDKIT;
  const std::string package = (s.ship / "GAME.PQ").string(), tgz = (s.dir / "game.tgz").string();
  const std::string game = s.game.string(), ship = s.ship.string(),
                    big = (s.ship / "BIG.DAT").string();
  const std::string corpusIn = s.corpus.string(), corpusLz = (s.dir / "corpus.lz").string(),
                    corpusGz = (s.dir / "corpus.gz").string();
  const fs::path out0 = s.dir / "out0", out2 = s.dir / "out2";
  auto fresh = [](const fs::path& p) {
    std::error_code ec;
    fs::remove_all(p, ec);
    fs::create_directories(p);
    return p.string();
  };
  std::vector<Row> rows;
  rows.push_back({"pkg build --lz", "tar -czf",
                  [=] {
                    return Spawn({updkit, "pkg", "build", package, "--from", game, "--lz"});
                  },
                  [=] {
                    return Spawn({"tar", "-czf", tgz, "-C", game, "."});
                  }});
  rows.push_back({"install (operation 2)", "tar -xzf",
                  [=] {
                    const std::string dest = fresh(out2);
                    return InProcess([&] {
                      QuietSink ui;
                      char failed[260];
                      return InstallFiles(ui, ship.c_str(), dest.c_str(), "GAME.PQ", failed,
                                          sizeof failed) == 0;
                    });
                  },
                  [=] {
                    const std::string dest = fresh(out2);
                    return Spawn({"tar", "-xzf", tgz, "-C", dest});
                  }});
  // tar does not wait for the disk either; beside it, a tar whose files and
  // folders are then flushed one by one, as the install flushes them.
  rows.push_back({"install (operation 2)", "tar + sync", rows.back().ours,
                  [=] {
                    const std::string dest = fresh(out2);
                    return Spawn({"sh", "-c",
                                  "tar -xzf \"$1\" -C \"$2\" && find \"$2\" -exec sync {} +", "sh",
                                  tgz, dest});
                  },
                  false, true});
  rows.push_back({"copy (operation 0)", "cp",
                  [=] {
                    const std::string dest = fresh(out0);
                    return InProcess([&] {
                      QuietSink ui;
                      return UpdateFile(ui, "BIG.DAT", ship.c_str(), dest.c_str(), 0) == 0;
                    });
                  },
                  [=] {
                    const std::string dest = fresh(out0);
                    return Spawn({"cp", big, dest});
                  }});
  // cp does not wait for the disk; the updater must (the file is flushed
  // before it is renamed over the old one). This row shows the copy beside
  // a cp that waits too.
  rows.push_back(
      {"copy (operation 0)", "cp + sync", rows.back().ours,
       [=] {
         const std::string dest = fresh(out0);
         return Spawn({"sh", "-c", "cp \"$1\" \"$2\" && sync \"$2/BIG.DAT\"", "sh", big, dest});
       },
       false, true});
  rows.push_back({"lz pack, peak memory", "gzip -6",
                  [=] {
                    return Spawn({updkit, "lz", "pack", corpusIn, corpusLz});
                  },
                  [=] {
                    return Spawn({"gzip", "-6", "-c", corpusIn}, corpusGz);
                  },
                  true});
  return rows;
}

std::map<std::string, std::vector<Measure>> g_runs;  // by Key

std::string Key(const Row& row, bool ours) {
  return std::string(row.what) + "/" + (ours ? "ours" : row.peer);
}

void Register(const Row& row, bool ours, int round) {
  const std::string key = Key(row, ours);
  const std::function<Measure()> run = ours ? row.ours : row.theirs;
  benchmark::RegisterBenchmark((key + "/round:" + std::to_string(round)).c_str(),
                               [key, run](benchmark::State& st) {
                                 for (auto _ : st) {
                                   const Measure m = run();
                                   if (!m.ok) st.SkipWithError("failed");
                                   st.SetIterationTime(m.wall);
                                   g_runs[key].push_back(m);
                                 }
                               })
      ->UseManualTime()
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
}

Measure Median(std::vector<Measure> v) {
  if (v.empty()) return {};
  auto mid = [&](auto field) {
    std::vector<double> x;
    for (const Measure& m : v) x.push_back(double(m.*field));
    std::sort(x.begin(), x.end());
    return x[x.size() / 2];
  };
  Measure m;
  m.wall = mid(&Measure::wall);
  m.cpu = mid(&Measure::cpu);
  m.peakKiB = long(mid(&Measure::peakKiB));
  return m;
}

void PrintTable(const std::vector<Row>& rows) {
  const Setup& s = *g_setup;
  std::printf(
      "\ngame folder %.0f MiB, copied file %.0f MiB, packed file %.0f MiB; medians of %d "
      "alternating rounds\n",
      double(s.gameBytes) / 1048576, double(s.bigBytes) / 1048576, double(s.corpusBytes) / 1048576,
      kRounds);
  std::printf("%-22s %-10s %10s %10s %9s %9s %7s %7s %4s\n", "what", "peer", "ours s", "peer s",
              "ours cpu", "peer cpu", "ratio", "target", "met");
  for (const Row& row : rows) {
    const Measure ours = Median(g_runs[Key(row, true)]);
    const Measure peer = Median(g_runs[Key(row, false)]);
    if (ours.wall == 0 || peer.wall == 0) continue;
    if (row.memory) {
      std::printf("%-22s %-10s %7.1f MiB %6.1f MiB %29s %5s  (at most 8 MiB)\n", row.what, row.peer,
                  double(ours.peakKiB) / 1024, double(peer.peakKiB) / 1024, "",
                  ours.peakKiB <= 8 * 1024 ? "yes" : "NO");
      continue;
    }
    const double ratio = peer.wall / ours.wall;
    std::printf("%-22s %-10s %10.2f %10.2f %9.2f %9.2f %7.2f %7s %4s\n", row.what, row.peer,
                ours.wall, peer.wall, ours.cpu, peer.cpu, ratio, row.beside ? "-" : "1.00",
                row.beside     ? "-"
                : ratio >= 1.0 ? "yes"
                               : "NO");
  }
}

}  // namespace

int main(int argc, char** argv) {
  Setup setup;
  g_result = (setup.dir / "measured.txt").string();
  g_setup = &setup;
  const std::vector<Row> rows = MakeRows();
  // What the installs read, made once beforehand.
  if (!rows[0].ours().ok || !rows[0].theirs().ok) {
    std::fprintf(stderr, "cannot build the package or the archive\n");
    return 1;
  }
  for (int round = 1; round <= kRounds; ++round) {
    for (const Row& row : rows) {
      Register(row, true, round);
      Register(row, false, round);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintTable(rows);
  return 0;
}
