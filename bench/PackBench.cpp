// Pack and unpack speed of both pack methods beside zlib on the same data:
// the corpus of text, shared libraries and 8-bit bitmaps (bench/Corpus.h).
// Each measure runs in three rounds, ours and the peer's one after the
// other in every round, so that a busy machine slows both alike; after the
// runs a table gives the medians (processor time) and their ratio, for
// each part and for the whole corpus.
//
//   UPD_BENCH_MIB=20 build/linux-release/bench/pack_bench
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/Corpus.h"
#include "ourlib/src/Pack.h"

namespace {

using corpus::Bytes;
constexpr int kRounds = 3;

Bytes ZlibPack(const Bytes& in, int level) {
  uLongf n = compressBound(in.size());
  Bytes out(n);
  if (compress2(out.data(), &n, in.data(), in.size(), level) != Z_OK) return {};
  out.resize(n);
  return out;
}

// One row of the table: what is measured (ours) and against what (peer).
struct Row {
  const char* what;
  const char* peer;
  double target;  // our speed / the peer's, at least
  // Each runs once over the part; false when the result is wrong.
  bool (*ours)(const corpus::Part&, Bytes& scratch);
  bool (*theirs)(const corpus::Part&, Bytes& scratch);
};

// The packed forms the unpackers read, made once.
std::map<std::string, Bytes> g_lz, g_rle, g_zlib6, g_zlib1;

bool Same(const Bytes& out, int64_t n, const Bytes& want) {
  return n == int64_t(want.size()) && std::equal(want.begin(), want.end(), out.begin());
}

using PackFn = int32_t (*)(const uint8_t*, int32_t, uint8_t*, int32_t);

// Our packer into room for the worst case; zlib's at a level.
template <PackFn Fn>
bool Ours(const corpus::Part& p, Bytes& out) {
  out.resize(2 * p.bytes.size() + 64);
  return Fn(p.bytes.data(), int32_t(p.bytes.size()), out.data(), int32_t(out.size())) > 0;
}
template <int kLevel>
bool Deflate(const corpus::Part& p, Bytes& out) {
  uLongf n = compressBound(p.bytes.size());
  out.resize(n);
  return compress2(out.data(), &n, p.bytes.data(), p.bytes.size(), kLevel) == Z_OK;
}

// Our unpacker and zlib's, from the packed forms made beforehand; both
// must give the part back.
template <PackFn Fn, std::map<std::string, Bytes>* Packed>
bool OursBack(const corpus::Part& p, Bytes& out) {
  out.resize(p.bytes.size());
  const Bytes& in = (*Packed)[p.name];
  return Same(out, Fn(in.data(), int32_t(in.size()), out.data(), int32_t(out.size())), p.bytes);
}
template <std::map<std::string, Bytes>* Packed>
bool Inflate(const corpus::Part& p, Bytes& out) {
  out.resize(p.bytes.size());
  const Bytes& in = (*Packed)[p.name];
  uLongf n = out.size();
  return uncompress(out.data(), &n, in.data(), in.size()) == Z_OK && Same(out, int64_t(n), p.bytes);
}

const Row kRows[] = {
    {"LzPack", "zlib deflate level 6", 1.0, Ours<LzPack>, Deflate<6>},
    {"LzUnpack", "zlib inflate", 2.0, OursBack<LzUnpack, &g_lz>, Inflate<&g_zlib6>},
    {"RlePack", "zlib deflate level 1", 1.0, Ours<RlePack>, Deflate<1>},
    {"RleUnpack", "zlib inflate", 1.0, OursBack<RleUnpack, &g_rle>, Inflate<&g_zlib1>},
};

// Seconds of processor time per run, by "row/part/ours|peer", one per round.
std::map<std::string, std::vector<double>> g_seconds;

void Register(const Row& row, const corpus::Part* part, bool ours, int round) {
  const std::string key = std::string(row.what) + "/" + part->name + (ours ? "/ours" : "/peer");
  auto run = ours ? row.ours : row.theirs;
  benchmark::RegisterBenchmark(
      (key + "/round:" + std::to_string(round)).c_str(),
      [key, run, part](benchmark::State& st) {
        Bytes scratch;
        for (auto _ : st) {
          if (!run(*part, scratch)) st.SkipWithError("wrong result");
          benchmark::ClobberMemory();
        }
        st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(part->bytes.size()));
      })
      ->Unit(benchmark::kMillisecond);
}

class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.error_occurred || r.iterations == 0) continue;
      const std::string name = r.run_name.function_name;
      g_seconds[name.substr(0, name.rfind("/round:"))].push_back(r.cpu_accumulated_time /
                                                                 double(r.iterations));
    }
  }
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void PrintTable(const std::vector<corpus::Part>& parts) {
  size_t total = 0;
  for (const corpus::Part& p : parts) total += p.bytes.size();
  std::printf("\ncorpus %.1f MiB (libraries: %s); medians of %d alternating rounds, CPU time\n",
              double(total) / 1048576, corpus::LibrarySources().c_str(), kRounds);
  std::printf("%-10s %-8s %10s %10s %7s %7s %5s  %s\n", "what", "part", "ours MB/s", "peer MB/s",
              "ratio", "target", "met", "peer");
  for (const Row& row : kRows) {
    double oursAll = 0, peerAll = 0;
    bool complete = true;
    auto line = [&](const std::string& part, double bytes, double ours, double peer) {
      const double ratio = peer / ours;
      std::printf("%-10s %-8s %10.1f %10.1f %7.2f %7.2f %5s  %s\n", row.what, part.c_str(),
                  bytes / ours / 1e6, bytes / peer / 1e6, ratio, row.target,
                  ratio >= row.target ? "yes" : "NO", row.peer);
    };
    for (const corpus::Part& p : parts) {
      const std::string key = std::string(row.what) + "/" + p.name;
      const double ours = Median(g_seconds[key + "/ours"]);
      const double peer = Median(g_seconds[key + "/peer"]);
      if (ours == 0 || peer == 0) {
        complete = false;
        continue;
      }
      oursAll += ours;
      peerAll += peer;
      line(p.name, double(p.bytes.size()), ours, peer);
    }
    if (complete) line("whole", double(total), oursAll, peerAll);
  }
}

}  // namespace

int main(int argc, char** argv) {
  static const std::vector<corpus::Part> parts = corpus::Make(corpus::TotalSize());
  for (const corpus::Part& p : parts) {
    Bytes lz(p.bytes.size() + p.bytes.size() / 8 + 64), rle(2 * p.bytes.size() + 64);
    lz.resize(
        size_t(LzPack(p.bytes.data(), int32_t(p.bytes.size()), lz.data(), int32_t(lz.size()))));
    rle.resize(
        size_t(RlePack(p.bytes.data(), int32_t(p.bytes.size()), rle.data(), int32_t(rle.size()))));
    g_lz[p.name] = lz;
    g_rle[p.name] = rle;
    g_zlib6[p.name] = ZlibPack(p.bytes, 6);
    g_zlib1[p.name] = ZlibPack(p.bytes, 1);
  }
  for (int round = 1; round <= kRounds; ++round) {
    for (const Row& row : kRows) {
      for (const corpus::Part& p : parts) {
        Register(row, &p, true, round);
        Register(row, &p, false, round);
      }
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  PrintTable(parts);
  return 0;
}
