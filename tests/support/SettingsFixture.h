// A registry for one test: on POSIX a .reg file in the test's folder, on
// Windows the real HKEY_LOCAL_MACHINE (of the test's Wine prefix), with the
// game's keys filled with a valid installation whose MainPath is a folder
// of the test.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "settings/GameSettings.h"
#include "tests/support/TestPaths.h"

// A text value as an installer writes it: the text and its terminator.
inline void PutText(const char* key, const char* name, const std::string& text) {
  std::unique_ptr<plat::RegKey> k;
  ASSERT_EQ(plat::Registry::Default()->CreateKey(key, &k), 0);
  ASSERT_EQ(k->Set(name, plat::kRegSz, text.c_str(), static_cast<uint32_t>(text.size() + 1)), 0);
}

inline void PutWord(const char* key, const char* name, uint32_t value) {
  std::unique_ptr<plat::RegKey> k;
  ASSERT_EQ(plat::Registry::Default()->CreateKey(key, &k), 0);
  uint8_t b[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
  ASSERT_EQ(k->Set(name, plat::kRegDword, b, 4), 0);
}

// The stored bytes of a value, or "<missing>".
inline std::string Stored(const char* key, const char* name, uint32_t* type = nullptr) {
  std::unique_ptr<plat::RegKey> k;
  if (plat::Registry::Default()->OpenKey(key, &k) != 0) return "<missing>";
  std::vector<char> buf(4096);
  uint32_t size = static_cast<uint32_t>(buf.size());
  if (k->Query(name, type, buf.data(), &size) != 0) return "<missing>";
  return std::string(buf.data(), size);
}

inline void RemoveValue(const char* key, const char* name) {
  std::unique_ptr<plat::RegKey> k;
  ASSERT_EQ(plat::Registry::Default()->OpenKey(key, &k), 0);
  ASSERT_EQ(k->Delete(name), 0);
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // MainPath of the installation, with its trailing separator.
  std::string main_;
  testing_support::TempDir dir_;
};
