// Pack and unpack throughput of both pack methods beside zlib, LZ4 and
// memcpy on the same generated inputs: text-like and bitmap-like data. After
// the runs a table gives each one's speed as a share of memcpy's and the
// packed size as a share of the input.
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "ourlib/src/Pack.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kSize = 1 << 20;

// Words from a small vocabulary with line breaks, like script or log text.
Bytes TextData() {
  static const char* kWords[] = {"the ",  "record ",  "store ",   "update ", "of ",   "game ",
                                 "file ", "and ",     "packs ",   "unit ",   "font ", "surface ",
                                 "\r\n",  "version ", "section ", "key ",    "name ", "a ",
                                 "is ",   "to ",      "Units ",   "Bytes = "};
  std::mt19937 g(1);
  Bytes v;
  while (v.size() < kSize) {
    const char* w = kWords[g() % (sizeof kWords / sizeof kWords[0])];
    v.insert(v.end(), w, w + std::strlen(w));
    if (g() % 16 == 0) {
      std::string n = std::to_string(g() % 100000);
      v.insert(v.end(), n.begin(), n.end());
    }
  }
  v.resize(kSize);
  return v;
}

// 8-bit palette rows of 640 pixels: runs of a few colours, rows often
// repeated, some noise: like unit sprites and interface surfaces.
Bytes BitmapData() {
  std::mt19937 g(2);
  Bytes v, row;
  while (v.size() < kSize) {
    if (row.empty() || g() % 3 != 0) {
      row.clear();
      while (row.size() < 640) {
        uint8_t colour = g() % 8 == 0 ? uint8_t(g()) : uint8_t(16 + g() % 8);
        row.insert(row.end(), 1 + g() % 48, colour);
      }
      row.resize(640);
    }
    v.insert(v.end(), row.begin(), row.end());
  }
  v.resize(kSize);
  return v;
}

struct Codec {
  const char* name;
  // Both return the output length, negative on failure.
  int64_t (*pack)(const Bytes& in, Bytes& out);
  int64_t (*unpack)(const Bytes& in, Bytes& out, size_t size);
};

int64_t Ours(int32_t (*fn)(const uint8_t*, int32_t, uint8_t*, int32_t), const Bytes& in,
             Bytes& out) {
  return fn(in.data(), int32_t(in.size()), out.data(), int32_t(out.size()));
}

template <int kLevel>
int64_t ZlibPack(const Bytes& in, Bytes& out) {
  uLongf n = out.size();
  return compress2(out.data(), &n, in.data(), in.size(), kLevel) == Z_OK ? int64_t(n) : -1;
}

int64_t ZlibUnpack(const Bytes& in, Bytes& out, size_t size) {
  uLongf n = size;
  return uncompress(out.data(), &n, in.data(), in.size()) == Z_OK ? int64_t(n) : -1;
}

const Codec kCodecs[] = {
    {"memcpy",
     [](const Bytes& in, Bytes& out) {
       std::memcpy(out.data(), in.data(), in.size());
       return int64_t(in.size());
     },
     [](const Bytes& in, Bytes& out, size_t) {
       std::memcpy(out.data(), in.data(), in.size());
       return int64_t(in.size());
     }},
    {"lz", [](const Bytes& in, Bytes& out) { return Ours(LzPack, in, out); },
     [](const Bytes& in, Bytes& out, size_t size) {
       return int64_t(LzUnpack(in.data(), int32_t(in.size()), out.data(), int32_t(size)));
     }},
    {"rle", [](const Bytes& in, Bytes& out) { return Ours(RlePack, in, out); },
     [](const Bytes& in, Bytes& out, size_t size) {
       return int64_t(RleUnpack(in.data(), int32_t(in.size()), out.data(), int32_t(size)));
     }},
    {"zlib-1", ZlibPack<1>, ZlibUnpack},
    {"zlib-6", ZlibPack<6>, ZlibUnpack},
    {"lz4",
     [](const Bytes& in, Bytes& out) {
       return int64_t(LZ4_compress_default(reinterpret_cast<const char*>(in.data()),
                                           reinterpret_cast<char*>(out.data()), int(in.size()),
                                           int(out.size())));
     },
     [](const Bytes& in, Bytes& out, size_t size) {
       return int64_t(LZ4_decompress_safe(reinterpret_cast<const char*>(in.data()),
                                          reinterpret_cast<char*>(out.data()), int(in.size()),
                                          int(size)));
     }},
};

struct Measure {
  double bytesPerSecond = 0;
  double packedShare = 0;
};
std::map<std::string, Measure> g_results;  // "data/codec/pack|unpack"

class TableReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      auto bps = r.counters.find("bytes_per_second");
      auto share = r.counters.find("packed");
      Measure& m = g_results[r.run_name.function_name];
      if (bps != r.counters.end()) m.bytesPerSecond = bps->second.value;
      if (share != r.counters.end()) m.packedShare = share->second.value;
    }
  }
};

void Register(const std::string& dataName, const Bytes* data, const Codec& c) {
  Bytes packed(data->size() + data->size() / 8 + 1024);
  int64_t n = c.pack(*data, packed);
  if (n < 0) {
    std::fprintf(stderr, "%s does not pack %s\n", c.name, dataName.c_str());
    return;
  }
  packed.resize(size_t(n));
  double share = double(n) / double(data->size());
  benchmark::RegisterBenchmark(
      (dataName + "/" + c.name + "/pack").c_str(), [data, c, share](benchmark::State& st) {
        Bytes out(data->size() + data->size() / 8 + 1024);
        for (auto _ : st) benchmark::DoNotOptimize(c.pack(*data, out));
        st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(data->size()));
        st.counters["packed"] = share;
      });
  benchmark::RegisterBenchmark(
      (dataName + "/" + c.name + "/unpack").c_str(), [data, c, packed](benchmark::State& st) {
        Bytes out(data->size());
        for (auto _ : st) {
          if (c.unpack(packed, out, out.size()) != int64_t(data->size()))
            st.SkipWithError("unpack failed");
          benchmark::ClobberMemory();
        }
        if (out != *data) st.SkipWithError("unpacked bytes differ");
        st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(data->size()));
      });
}

void PrintTable(const std::vector<std::string>& dataNames) {
  std::printf("\n%-8s %-8s %10s %10s %10s %10s %8s\n", "data", "method", "pack MB/s", "unpack MB/s",
              "pack/memcpy", "unpack/memcpy", "size");
  for (const std::string& d : dataNames) {
    double mem = g_results[d + "/memcpy/pack"].bytesPerSecond;
    for (const Codec& c : kCodecs) {
      const Measure& p = g_results[d + "/" + c.name + "/pack"];
      const Measure& u = g_results[d + "/" + c.name + "/unpack"];
      if (p.bytesPerSecond == 0) continue;
      if (mem == 0 || u.bytesPerSecond == 0) continue;  // filtered out
      std::printf("%-8s %-8s %10.1f %11.1f %11.4f %13.4f %7.1f%%\n", d.c_str(), c.name,
                  p.bytesPerSecond / 1e6, u.bytesPerSecond / 1e6, p.bytesPerSecond / mem,
                  u.bytesPerSecond / mem, 100 * p.packedShare);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  static const Bytes text = TextData();
  static const Bytes bitmap = BitmapData();
  for (const Codec& c : kCodecs) Register("text", &text, c);
  for (const Codec& c : kCodecs) Register("bitmap", &bitmap, c);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  PrintTable({"text", "bitmap"});
  return 0;
}
