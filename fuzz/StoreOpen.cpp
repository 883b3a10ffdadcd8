// Opens arbitrary ".DKX"/".DKD" bytes as a record store and works on it:
// iteration, lookups, the checker, and a put and a removal in update mode.
// Input: a 4-byte little-endian length n, then n bytes of index, then the data file.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "ourlib/src/ByteCodec.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Mf32int.h"
#include "ourlib/src/StoreEngine.h"

namespace {

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

std::vector<uint8_t> Key(uint8_t section, const char* name) {
  std::vector<uint8_t> k(kRecKeyHeader + std::strlen(name));
  RecKeyMake(k.data(), section, name, std::strlen(name));
  return k;
}

void Exercise(const std::string& base, int mode) {
  StoreEngine* e = nullptr;
  Guard([&] {
    // The record store's own key order, as the updater opens its stores.
    e = StoreOpen(base.c_str(), RecKeyConfig(), 0, mode, 0, 0);
    StoreVerify(e);
    IndexFirst(e->index, nullptr, nullptr);
    uint8_t key[600];
    KeyOut out;
    out.buffer = key;
    out.capacity = sizeof key;
    for (int i = 0; i < 5000 && StoreNextRecord(e, &out) > 0; ++i) {
      // The probe is padded: a damaged key may be shorter than its header.
      std::vector<uint8_t> probe(key, key + out.length);
      probe.resize(out.length + 64, 0);
      uint32_t stored = static_cast<uint32_t>(RecKeyStoredLength(key));
      Guard([&] { StoreGetRecord(e, probe.data(), nullptr, stored); });
    }
    std::vector<uint8_t> k = Key(1, "UNIT");
    Guard([&] { StoreGetRecord(e, k.data(), nullptr, 0); });
    if (mode == MODE_UPDATE) {
      Guard([&] { StoreRemoveKey(e, k.data()); });
      Guard([&] { StorePutRecord(e, k.data(), "payload", 7); });
      Guard([&] { StoreRemoveKey(e, k.data()); });
      StoreVerify(e);
    }
  });
  StoreClose(e);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  uint32_t n = GetU32(data);
  data += 4;
  size -= 4;
  if (n > size) n = static_cast<uint32_t>(size);
  static const std::string base = (std::filesystem::temp_directory_path() /
                                   ("store_open_" + std::to_string(std::random_device{}())))
                                      .string();
  WriteFile(base + ".DKX", data, n);
  WriteFile(base + ".DKD", data + n, size - n);
  Exercise(base, MODE_READ);
  Exercise(base, MODE_UPDATE);
  std::filesystem::remove(base + ".DKX");
  std::filesystem::remove(base + ".DKD");
  return 0;
}
