// Builds package bytes in memory for the package tests, so that a test can
// damage any field before the installer sees it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Pack.h"
#include "update/PackageFormat.h"

namespace pkgtest {

// A package entry's clock fields (the day of the week left at its default).
inline pkg::SystemTime Clock(uint16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi,
                             uint16_t s = 0, uint16_t ms = 0) {
  pkg::SystemTime t;
  t.year = y;
  t.month = mo;
  t.day = d;
  t.hour = h;
  t.minute = mi;
  t.second = s;
  t.milliseconds = ms;
  return t;
}

struct FileSpec {
  std::string name;
  std::string folder;
  bool hasFolder = false;
  std::string content;
  bool packed = false;
  uint8_t chunkKiB = 1;
  pkg::SystemTime time;
};

inline FileSpec File(const std::string& name, const std::string& content,
                     const std::string& folder = "", bool packed = false, uint8_t chunkKiB = 1) {
  FileSpec f;
  f.name = name;
  f.folder = folder;
  f.hasFolder = !folder.empty();
  f.content = content;
  f.packed = packed;
  f.chunkKiB = chunkKiB;
  f.time.year = 2001;
  f.time.month = 6;
  f.time.day = 15;
  f.time.hour = 2;
  f.time.minute = 30;
  return f;
}

// The package and where its parts lie, for tests that damage them.
struct Built {
  std::string bytes;
  uint32_t dirOffset = 0;
  std::vector<uint32_t> entryOffsets;  // of each entry's bytes (after its length)
};

inline void PutU32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

inline void AppendU32(std::string& s, uint32_t v) {
  s.append(4, '\0');
  PutU32(s, s.size() - 4, v);
}

inline Built Build(const std::vector<FileSpec>& files) {
  Built b;
  b.bytes.assign(pkg::kDataStart, '\0');
  b.bytes[0] = 'P';
  b.bytes[1] = 'Q';
  std::vector<pkg::Entry> entries;
  for (const FileSpec& f : files) {
    pkg::Entry e;
    std::strncpy(e.name, f.name.c_str(), sizeof e.name - 1);
    std::strncpy(e.folder, f.folder.c_str(), sizeof e.folder - 1);
    e.hasFolder = f.hasFolder;
    e.packed = f.packed;
    e.chunkKiB = f.chunkKiB;
    e.time = f.time;
    const size_t cap = size_t{f.chunkKiB} * 1024;
    for (size_t at = 0; at < f.content.size(); at += cap) {
      std::string chunk = f.content.substr(at, cap);
      if (f.packed) {
        std::vector<uint8_t> out(2 * cap + 64);
        int32_t n = 0;
        Guard([&] {
          n = LzPack(reinterpret_cast<const uint8_t*>(chunk.data()),
                     static_cast<int32_t>(chunk.size()), out.data(),
                     static_cast<int32_t>(out.size()));
        });
        chunk.assign(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(n));
      }
      b.bytes += chunk;
      e.chunkSizes.push_back(static_cast<uint32_t>(chunk.size()));
    }
    entries.push_back(e);
  }
  b.dirOffset = static_cast<uint32_t>(b.bytes.size());
  for (const pkg::Entry& e : entries) {
    std::vector<uint8_t> bytes = pkg::EncodeEntry(e);
    AppendU32(b.bytes, static_cast<uint32_t>(bytes.size()));
    b.entryOffsets.push_back(static_cast<uint32_t>(b.bytes.size()));
    b.bytes.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  AppendU32(b.bytes, b.dirOffset);
  AppendU32(b.bytes, static_cast<uint32_t>(entries.size()));
  return b;
}

// Bytes that pack well, and bytes that do not.
inline std::string Text(size_t n) {
  std::string s;
  while (s.size() < n)
    s += "The quick brown fox jumps over the lazy dog " + std::to_string(s.size() % 97) + "\n";
  s.resize(n);
  return s;
}
inline std::string Noise(size_t n, uint32_t seed = 1) {
  std::string s(n, '\0');
  for (char& c : s) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 23);
  }
  return s;
}

}  // namespace pkgtest
