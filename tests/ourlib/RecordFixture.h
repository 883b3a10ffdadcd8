// Helpers for the record-store tests: stores in a temporary folder, records
// put and read back through cMf32 under an error frame, keys written
// straight into the engine (the way something other than cMf32 might).
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ourlib/src/ByteCodec.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Mf32int.h"
#include "ourlib/src/StoreEngine.h"
#include "tests/support/Pattern.h"
#include "update/DibSize.h"

namespace records_test {

using Bytes = std::vector<uint8_t>;

inline Bytes Pattern(size_t n, uint32_t seed) {  // incompressible
  const std::string s = testing_support::Pattern(n, seed);
  return Bytes(s.begin(), s.end());
}

inline Bytes Repeated(size_t n, uint8_t value) { return Bytes(n, value); }

// Opens under a frame; fails the test on a raise.
inline cMf32* OpenStore(const std::string& path, int mode) {
  cMf32* h = nullptr;
  int code = Guard([&] { h = cMf32::Open(path.c_str(), mode, 0, 0); });
  if (code != 0) ADD_FAILURE() << "open " << path << " raised " << code;
  return h;
}

inline int CloseStore(cMf32*& h) {
  cMf32* g = h;
  h = nullptr;
  return g != nullptr ? Guard([&] { delete g; }) : 0;
}

inline int Put(cMf32* h, uint8_t section, const std::string& name, const Bytes& data, int pack,
               int32_t* stored = nullptr, const uint8_t* info = nullptr) {
  return Guard([&] {
    h->RecPut(section, name.c_str(), data.data(), static_cast<int32_t>(data.size()), info, pack,
              stored);
  });
}

// A key as the index holds it (header and name), from its fields.
inline Bytes MakeKey(uint8_t section, const std::string& name, int32_t stored, uint8_t pack,
                     int32_t unpacked) {
  Bytes key(kRecKeyHeader + name.size());
  RecKeyMake(key.data(), section, name.data(), name.size());
  RecKeySetRecord(key.data(), stored, pack, unpacked, nullptr);
  return key;
}

// The bytes fn (LzPack or RlePack) packs plain into, in at most capacity
// bytes; none after a raise.
inline Bytes Packed(int32_t (*fn)(const uint8_t*, int32_t, uint8_t*, int32_t), const Bytes& plain,
                    int32_t capacity) {
  Bytes packed(static_cast<size_t>(capacity));
  int32_t n = 0;
  const int32_t length = static_cast<int32_t>(plain.size());
  EXPECT_EQ(Guard([&] { n = fn(plain.data(), length, packed.data(), capacity); }), 0);
  packed.resize(static_cast<size_t>(n));
  return packed;
}

// A 40-byte bitmap header (BITMAPINFOHEADER) with the fields a surface's
// length follows from; one plane, everything else zero.
inline Bytes DibHeader(int32_t width, int32_t height, uint16_t bits, uint32_t compression,
                       uint32_t sizeImage, uint32_t clrUsed) {
  Bytes h(40, 0);
  PutU32(&h[0], 40);
  PutI32(&h[4], width);
  PutI32(&h[8], height);
  PutU16(&h[12], 1);
  PutU16(&h[14], bits);
  PutU32(&h[16], compression);
  PutU32(&h[20], sizeImage);
  PutU32(&h[32], clrUsed);
  return h;
}

// Writes bytes under a hand-made key straight into the engine.
inline int PutRaw(cMf32* h, const Bytes& key, const Bytes& bytes) {
  return Guard([&] {
    StorePutRecord(h->Engine(), key.data(), bytes.data(), static_cast<uint32_t>(bytes.size()));
  });
}

// The record's bytes (copied), or empty with code set.
inline Bytes Get(cMf32* h, uint8_t section, const std::string& name, int* code = nullptr) {
  Bytes out;
  int c = Guard([&] {
    void* record = h->RecGet(section, name.c_str(), nullptr, 1);
    uint8_t probe[kRecKeyBuffer] = {};
    Bytes key = MakeKey(section, name, 0, 0, 0);
    std::memcpy(probe, key.data(), key.size());
    StoreGetRecord(h->Engine(), probe, nullptr, 0);
    int32_t n = RecKeyPack(probe) == 1 || RecKeyPack(probe) == 2 ? RecKeyUnpackedLength(probe)
                                                                 : RecKeyStoredLength(probe);
    const uint8_t* p = static_cast<const uint8_t*>(record);
    out.assign(p, p + n);
    h->RecMemFree(&record);
  });
  if (code != nullptr) *code = c;
  return out;
}

struct KeyInfo {
  int section;
  std::string name;
  int32_t stored;
  int pack;
  int32_t unpacked;
};

// Every key (of one section, or all with section < 0) in iteration order.
inline int Keys(cMf32* h, int section, std::vector<KeyInfo>& keys) {
  keys.clear();
  static uint8_t wanted;
  wanted = static_cast<uint8_t>(section);
  return Guard(
      [&] {
        h->ToBeg(section < 0 ? nullptr
                         : +[](const void* key, void* data) {
                             return RecKeySection(key) != *static_cast<uint8_t*>(data) ? 1 : 0;
                           },
             &wanted);
        while (const uint8_t* k = h->RecKeyGetNext(nullptr)) {
          keys.push_back({RecKeySection(k), RecKeyName(k), RecKeyStoredLength(k), RecKeyPack(k),
                          RecKeyUnpackedLength(k)});
        }
      });
}

inline std::string Verify(cMf32* h) { return StoreVerify(h->Engine()); }

// Every keyed record of the store at path, opened read-only: "section name"
// to its bytes, a font table with its surfaces in place of their offsets
// (which differ from store to store); under "" the store's first violation
// when it has one, or that it cannot be opened.
inline std::map<std::string, std::string> Records(const std::string& path) {
  std::map<std::string, std::string> out;
  cMf32* h = nullptr;
  if (Guard([&] { h = cMf32::Open(path.c_str(), MFO_READ, 0, 0); }) != 0) {
    out[""] = "no store";
    return out;
  }
  std::string violation = Verify(h);
  if (!violation.empty()) out[""] = violation;
  std::vector<KeyInfo> keys;
  if (Keys(h, -1, keys) != 0) out[""] = "keys";
  for (const KeyInfo& k : keys) {
    Bytes b = Get(h, static_cast<uint8_t>(k.section), k.name);
    std::string value(b.begin(), b.end());
    const int count = b.size() >= 2 ? GetI16(b.data()) : 0;
    if (k.section == 3 && count > 0 && 2 + 4 * static_cast<size_t>(count) <= b.size()) {
      value = value.substr(0, 2);
      for (int i = 0; i < count; ++i) {
        const uint8_t* o = b.data() + 2 + 4 * i;
        const uint8_t* p = h->RecPtr(GetI32(o));
        value += p != nullptr ? std::string(p, p + DibSize(p)) : "no surface";
      }
      value += std::string(b.begin() + 2 + 4 * count, b.end());
    }
    out[std::to_string(k.section) + " " + k.name] = value;
  }
  CloseStore(h);
  return out;
}

}  // namespace records_test
