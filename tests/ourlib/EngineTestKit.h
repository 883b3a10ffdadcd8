// Keys and store handles for the engine tests: the record-store key (a
// 24-byte header with section and name length, then the name) with its
// ordering, and small RAII wrappers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Mf32int.h"
#include "ourlib/src/StoreEngine.h"

namespace enginetest {

constexpr uint32_t kKeyHeader = 24;

inline std::vector<uint8_t> MakeKey(uint8_t section, const std::string& name) {
  std::vector<uint8_t> k(kKeyHeader + name.size());
  RecKeyMake(k.data(), section, name.data(), name.size());
  return k;
}

inline int NameLength(const uint8_t* k) { return RecKeyNameLength(k); }

// Section, then name length (shorter first), then bytes; equal keys hand
// the stored header to the search key.
inline int RecCompare(void* search, const void* stored) {
  uint8_t* a = static_cast<uint8_t*>(search);
  const uint8_t* b = static_cast<const uint8_t*>(stored);
  if (a[0] != b[0]) return a[0] - b[0];
  int la = NameLength(a), lb = NameLength(b);
  if (la != lb) return la - lb;
  int c = la > 0 ? std::memcmp(a + kKeyHeader, b + kKeyHeader, static_cast<size_t>(la)) : 0;
  if (c != 0) return c < 0 ? -1 : 1;
  std::memcpy(a, b, kKeyHeader);
  return 0;
}

inline int RecLength(const void* key) {
  return static_cast<int>(kKeyHeader) + NameLength(static_cast<const uint8_t*>(key));
}

inline const KeyConfig* RecConfig() {
  static const KeyConfig cfg{KEY_CUSTOM, RecCompare, RecLength, 0};
  return &cfg;
}

inline std::string KeyName(const uint8_t* k) {
  return std::string(reinterpret_cast<const char*>(k) + kKeyHeader,
                     static_cast<size_t>(NameLength(k)));
}

// A store open for the length of a scope.
class Store {
 public:
  Store(const std::string& path, int mode, uint32_t flags = 0, const KeyConfig* cfg = RecConfig()) {
    engine_ = StoreOpen(path.c_str(), cfg, 0, mode, flags, 0);
    if (engine_ == nullptr) code_ = FirstCode(path, mode, flags, cfg);
  }
  ~Store() { StoreClose(engine_); }
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  StoreEngine* get() const { return engine_; }
  StoreEngine* operator->() const { return engine_; }
  explicit operator bool() const { return engine_ != nullptr; }
  int code() const { return code_; }
  void Close() {
    StoreClose(engine_);
    engine_ = nullptr;
  }

 private:
  // Without a frame StoreOpen gives null; a second try under a frame tells the code.
  static int FirstCode(const std::string& path, int mode, uint32_t flags, const KeyConfig* cfg) {
    StoreEngine* e = nullptr;
    int rc = Guard([&] { e = StoreOpen(path.c_str(), cfg, 0, mode, flags, 0); });
    StoreClose(e);
    return rc;
  }
  StoreEngine* engine_ = nullptr;
  int code_ = 0;
};

// Puts a record the way the record-store interface replaces one.
inline int32_t Put(StoreEngine* e, uint8_t section, const std::string& name,
                   const std::string& data) {
  std::vector<uint8_t> k = MakeKey(section, name);
  StoreRemoveKey(e, k.data());
  RecKeySetRecord(k.data(), static_cast<int32_t>(data.size()), 0, 0, nullptr);
  return StorePutRecord(e, k.data(), data.data(), static_cast<uint32_t>(data.size()));
}

// The stored bytes under a key, or "<missing>"; the stored length comes back in the key.
inline std::string Get(StoreEngine* e, uint8_t section, const std::string& name) {
  std::vector<uint8_t> k = MakeKey(section, name);
  int32_t off = StoreGetRecord(e, k.data(), nullptr, 0);
  if (off < 0) return "<missing>";
  uint32_t len = static_cast<uint32_t>(RecKeyStoredLength(k.data()));
  std::string out(len, '\0');
  if (StoreGetRecord(e, k.data(), len ? &out[0] : nullptr, len) != off) return "<unreadable>";
  return out;
}

}  // namespace enginetest
