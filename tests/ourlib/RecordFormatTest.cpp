// The fixed formats around records: section names, the record key's order
// and the length of a font surface.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "ourlib/src/SectionNames.h"
#include "tests/ourlib/RecordFixture.h"
#include "update/DibSize.h"

using records_test::Bytes;
using records_test::DibHeader;
using records_test::MakeKey;

namespace {

TEST(SectionNames, NamedRowsKeepTheirBlanksExactly) {
  const std::pair<int, const char*> kRows[] = {{3, "M_FNT "},  {7, "M_SSPR"},   {0, "M_ANY "},
                                               {32, "M_PLT "}, {128, "M_USER"}, {255, "M_ALL"}};
  for (const auto& [section, name] : kRows) {
    EXPECT_STREQ(SectionName(static_cast<uint8_t>(section)), name);
  }
}

TEST(SectionNames, UnnamedRowsShowThreeDigitsAndEveryFieldIsZeroPadded) {
  const std::pair<int, const char*> kRows[] = {{33, "033"},  {99, "099"},  {110, "110"},
                                               {127, "127"}, {129, "129"}, {210, "210"},
                                               {254, "254"}};
  for (const auto& [section, name] : kRows) {
    EXPECT_STREQ(SectionName(static_cast<uint8_t>(section)), name);
  }
  int named = 0;
  for (int i = 0; i < 256; ++i) {
    const char* field = kSectionNames[i];
    size_t n = std::strlen(field);
    ASSERT_LT(n, kSectionNameField) << i;
    for (size_t k = n; k < kSectionNameField; ++k) EXPECT_EQ(field[k], 0) << i;
    if (std::strncmp(field, "M_", 2) == 0) {
      ++named;
    } else {
      char digits[4];
      std::snprintf(digits, sizeof digits, "%03d", i);
      EXPECT_STREQ(field, digits);
    }
  }
  EXPECT_EQ(named, 35);  // 0..32, 128 and 255
}

int Compare(Bytes probe, const Bytes& stored) { return RecKeyCompare(probe.data(), stored.data()); }

TEST(RecKey, OrdersBySectionThenNameLengthThenUnsignedBytes) {
  EXPECT_GT(Compare(MakeKey(200, "A", 0, 0, 0), MakeKey(3, "A", 0, 0, 0)), 0);  // unsigned section
  EXPECT_LT(Compare(MakeKey(5, "B", 0, 0, 0), MakeKey(5, "AA", 0, 0, 0)), 0);   // shorter first
  EXPECT_GT(Compare(MakeKey(5, "ZZ", 0, 0, 0), MakeKey(5, "B", 0, 0, 0)), 0);
  EXPECT_EQ(Compare(MakeKey(5, "\x80", 0, 0, 0), MakeKey(5, "\x7f", 0, 0, 0)),
            1);                                                               // unsigned bytes
  EXPECT_EQ(Compare(MakeKey(5, "a", 0, 0, 0), MakeKey(5, "A", 0, 0, 0)), 1);  // case-sensitive
  EXPECT_EQ(Compare(MakeKey(5, "AB", 0, 0, 0), MakeKey(5, "AC", 0, 0, 0)), -1);
}

TEST(RecKey, EqualKeysHandTheStoredHeaderToTheProbe) {
  Bytes stored = MakeKey(9, "unit", 77, 2, 300);
  stored[10] = 0xAB;  // info
  Bytes probe = MakeKey(9, "unit", 0, 0, 0);
  ASSERT_EQ(RecKeyCompare(probe.data(), stored.data()), 0);
  EXPECT_EQ(RecKeyStoredLength(probe.data()), 77);
  EXPECT_EQ(RecKeyPack(probe.data()), 2);
  EXPECT_EQ(RecKeyUnpackedLength(probe.data()), 300);
  EXPECT_EQ(RecKeyInfo(probe.data())[0], 0xAB);
  // A different key leaves the probe as it was.
  Bytes other = MakeKey(9, "unix", 0, 0, 0);
  ASSERT_NE(RecKeyCompare(other.data(), stored.data()), 0);
  EXPECT_EQ(RecKeyStoredLength(other.data()), 0);
}

TEST(RecKey, LengthIsHeaderPlusNameAndNeverShorterThanTheHeader) {
  EXPECT_EQ(RecKeyLength(MakeKey(1, "abc", 0, 0, 0).data()), 27);
  Bytes damaged = MakeKey(1, "", 0, 0, 0);
  damaged[22] = 0xFF;
  damaged[23] = 0xFF;  // -1
  EXPECT_EQ(RecKeyLength(damaged.data()), 24);
}

// A header with the fields a surface's length follows from.
auto* const Dib = &DibHeader;

TEST(DibSize, FollowsTheHeader) {
  // 8 bits, 10 wide: rows of 12 bytes; a full 256-colour table.
  EXPECT_EQ(DibSize(Dib(10, 10, 8, 0, 0, 0).data()), 40 + 1024 + 120);
  EXPECT_EQ(DibSize(Dib(10, 10, 8, 0, 0, 16).data()), 40 + 64 + 120);     // biClrUsed
  EXPECT_EQ(DibSize(Dib(10, 10, 8, 0, 500, 0).data()), 40 + 1024 + 500);  // biSizeImage
  EXPECT_EQ(DibSize(Dib(3, 2, 1, 0, 0, 0).data()), 40 + 8 + 8);
  EXPECT_EQ(DibSize(Dib(5, 3, 24, 0, 0, 0).data()), 40 + 16 * 3);
  EXPECT_EQ(DibSize(Dib(5, 3, 16, 3, 0, 0).data()), 40 + 12 + 12 * 3);  // bit fields
  EXPECT_EQ(DibSize(Dib(5, 3, 32, 0, 0, 0).data()), 40 + 20 * 3);
}

TEST(DibSize, TopDownAndAbsurdHeadersHaveNoLength) {
  EXPECT_EQ(DibSize(Dib(10, -10, 8, 0, 0, 0).data()), -1);
  EXPECT_EQ(DibSize(Dib(-8, -10, 8, 0, 0, 0).data()), -1);  // would come out positive
  EXPECT_EQ(DibSize(Dib(10, -10, 8, 0, 120, 0).data()), 40 + 1024 + 120);  // size given
  EXPECT_EQ(DibSize(Dib(0x7FFFFFFF, 0x7FFFFFFF, 32, 0, 0, 0).data()), -1);
  EXPECT_EQ(DibSize(Dib(1, 1, 8, 0, 0, 0xFFFFFFFFu).data()), -1);
  EXPECT_EQ(DibSize(Dib(1, 1, 8, 0, 0xFFFFFFF0u, 0).data()), -1);
}

}  // namespace
