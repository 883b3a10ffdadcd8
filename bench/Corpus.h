// The data the pack and package benchmarks run on, made the same way on
// every run: prose-like text from a generator, the machine's own shared
// libraries (a fixed list of names, with fallbacks), and 8-bit palette
// bitmaps drawn by a generator (terrain tiles, sprites, interface panels).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corpus {

using Bytes = std::vector<uint8_t>;

struct Part {
  std::string name;  // "text", "libs", "bitmaps"
  Bytes bytes;
};

// The corpus size in bytes: UPD_BENCH_MIB mebibytes when set (the
// documented runs use 20), else a small size that CI runs in a moment.
size_t TotalSize();

// The three parts, each a third of total bytes.
std::vector<Part> Make(size_t total);

// Where the library bytes came from ("libc.so.6 libstdc++.so.6 ...").
const std::string& LibrarySources();

}  // namespace corpus
