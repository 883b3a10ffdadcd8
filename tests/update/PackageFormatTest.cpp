// The package entry layout, the file time conversion and the path rules.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/update/PackageBuilder.h"
#include "update/PackageFormat.h"

namespace {

using pkgtest::Clock;

TEST(PackageEntry, FieldsSitAtTheirOffsets) {
  pkg::Entry e;
  e.packed = true;
  e.chunkKiB = 64;
  std::strcpy(e.name, "UNITS.DKX");
  e.hasFolder = true;
  std::strcpy(e.folder, "DATA\\SUB");
  e.typeMask = 0x01020304;
  e.time = Clock(2003, 4, 5, 6, 7, 8, 9);
  e.time.dayOfWeek = 6;
  e.chunkSizes = {100, 0x01020304};
  const std::vector<uint8_t> b = pkg::EncodeEntry(e);
  ASSERT_EQ(555u + 8u, b.size());
  EXPECT_EQ(1, b[4]);
  EXPECT_EQ(64, b[5]);
  EXPECT_STREQ("UNITS.DKX", reinterpret_cast<const char*>(&b[6]));
  EXPECT_EQ(1, b[266]);
  EXPECT_STREQ("DATA\\SUB", reinterpret_cast<const char*>(&b[267]));
  EXPECT_EQ(0x04, b[527]);
  EXPECT_EQ(0x01, b[530]);
  const uint8_t time[16] = {0xD3, 0x07, 4, 0, 6, 0, 5, 0, 6, 0, 7, 0, 8, 0, 9, 0};
  EXPECT_EQ(0, std::memcmp(time, &b[531], 16));
  EXPECT_EQ(2, b[547]);
  EXPECT_EQ(100, b[555]);
  EXPECT_EQ(0x04, b[559]);
  EXPECT_EQ(0x01, b[562]);

  pkg::Entry back;
  ASSERT_TRUE(pkg::DecodeEntry(b.data(), b.size(), &back));
  EXPECT_TRUE(back.packed);
  EXPECT_EQ(64, back.chunkKiB);
  EXPECT_STREQ("UNITS.DKX", back.name);
  EXPECT_STREQ("DATA\\SUB", back.folder);
  EXPECT_EQ(0x01020304u, back.typeMask);
  EXPECT_EQ(6, back.time.dayOfWeek);
  EXPECT_EQ(9, back.time.milliseconds);
  EXPECT_EQ(e.chunkSizes, back.chunkSizes);

  // One byte short of the size array, or of the fixed part.
  EXPECT_FALSE(pkg::DecodeEntry(b.data(), b.size() - 1, &back));
  EXPECT_FALSE(pkg::DecodeEntry(b.data(), 554, &back));
}

TEST(PackageTime, ConvertsLikeSystemTimeToFileTime) {
  uint64_t ft = 1;
  ASSERT_TRUE(pkg::SystemTimeToFileTime(Clock(1601, 1, 1, 0, 0), &ft));
  EXPECT_EQ(0u, ft);
  ASSERT_TRUE(pkg::SystemTimeToFileTime(Clock(1970, 1, 1, 0, 0), &ft));
  EXPECT_EQ(116444736000000000u, ft);
  ASSERT_TRUE(pkg::SystemTimeToFileTime(Clock(2000, 2, 29, 23, 59, 59, 999), &ft));
  const pkg::SystemTime back = pkg::FileTimeToSystemTime(ft);
  EXPECT_EQ(2000, back.year);
  EXPECT_EQ(2, back.month);
  EXPECT_EQ(29, back.day);
  EXPECT_EQ(23, back.hour);
  EXPECT_EQ(59, back.second);
  EXPECT_EQ(999, back.milliseconds);
  EXPECT_EQ(2, back.dayOfWeek);  // a Tuesday

  EXPECT_FALSE(pkg::SystemTimeToFileTime(Clock(2001, 2, 29, 0, 0), &ft));
  EXPECT_FALSE(pkg::SystemTimeToFileTime(Clock(2001, 13, 1, 0, 0), &ft));
  EXPECT_FALSE(pkg::SystemTimeToFileTime(Clock(2001, 1, 0, 0, 0), &ft));
  EXPECT_FALSE(pkg::SystemTimeToFileTime(Clock(2001, 1, 1, 24, 0), &ft));
  EXPECT_FALSE(pkg::SystemTimeToFileTime(Clock(1600, 12, 31, 0, 0), &ft));
}

TEST(PackageTime, HourRuleMovesFourOClockAndLaterBack) {
  EXPECT_EQ(2, pkg::InstallTime(Clock(2001, 1, 1, 2, 30)).hour);
  EXPECT_EQ(10, pkg::InstallTime(Clock(2001, 1, 1, 14, 30)).hour);
  EXPECT_EQ(0, pkg::InstallTime(Clock(2001, 1, 1, 4, 0)).hour);
  EXPECT_EQ(3, pkg::InstallTime(Clock(2001, 1, 1, 3, 59)).hour);
  EXPECT_EQ(1, pkg::InstallTime(Clock(2001, 1, 1, 3, 59)).day);
}

TEST(PackagePaths, NamesAndFoldersStayInside) {
  for (const char* ok : {"a.txt", "UNITS.DKX", ".hidden", "a..b", "*EMPTY"})
    EXPECT_TRUE(pkg::SafeEntryName(ok)) << ok;
  for (const char* bad : {"..", ".", "...", ". .", "a\\b", "a/b", "C:x", "x:"}) {
    EXPECT_FALSE(pkg::SafeEntryName(bad)) << bad;
  }
  for (const char* ok : {"", "DATA", "DATA\\SUB\\", "a\\..\\b", ".\\a", "a/b", "a\\..", "a\\\\b"}) {
    EXPECT_TRUE(pkg::SafeEntryFolder(ok)) << ok;
  }
  for (const char* bad : {"..", "\\DATA", "/srv", "C:\\x", "C:x", "a\\..\\..", "a\\..\\..\\b",
                          "..\\a", "...", "a\\ ..\\b"}) {
    EXPECT_FALSE(pkg::SafeEntryFolder(bad)) << bad;
  }
}

}  // namespace
