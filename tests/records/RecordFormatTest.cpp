// The fixed formats around records: section names, the record key's order
// and the length of a font surface.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ourlib/src/SectionNames.h"
#include "tests/records/RecordFixture.h"
#include "update/DibSize.h"

using records_test::Bytes;
using records_test::MakeKey;

namespace {

TEST(SectionNames, NamedRowsKeepTheirBlanksExactly) {
  EXPECT_STREQ(SectionName(3), "M_FNT ");
  EXPECT_STREQ(SectionName(7), "M_SSPR");
  EXPECT_STREQ(SectionName(0), "M_ANY ");
  EXPECT_STREQ(SectionName(32), "M_PLT ");
  EXPECT_STREQ(SectionName(128), "M_USER");
  EXPECT_STREQ(SectionName(255), "M_ALL");
}

TEST(SectionNames, UnnamedRowsShowThreeDigitsAndEveryFieldIsZeroPadded) {
  EXPECT_STREQ(SectionName(33), "033");
  EXPECT_STREQ(SectionName(99), "099");
  EXPECT_STREQ(SectionName(110), "110");
  EXPECT_STREQ(SectionName(127), "127");
  EXPECT_STREQ(SectionName(129), "129");
  EXPECT_STREQ(SectionName(210), "210");
  EXPECT_STREQ(SectionName(254), "254");
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
  EXPECT_EQ(Compare(MakeKey(5, "\x80", 0, 0, 0), MakeKey(5, "\x7f", 0, 0, 0)), 1);  // unsigned bytes
  EXPECT_EQ(Compare(MakeKey(5, "a", 0, 0, 0), MakeKey(5, "A", 0, 0, 0)), 1);        // case-sensitive
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

Bytes Dib(int32_t width, int32_t height, uint16_t bits, uint32_t compression, uint32_t sizeImage,
          uint32_t clrUsed) {
  Bytes h(40, 0);
  auto put = [&](int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) h[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(0, 40);
  put(4, static_cast<uint32_t>(width));
  put(8, static_cast<uint32_t>(height));
  h[12] = 1;
  h[14] = static_cast<uint8_t>(bits);
  h[15] = static_cast<uint8_t>(bits >> 8);
  put(16, compression);
  put(20, sizeImage);
  put(32, clrUsed);
  return h;
}

TEST(DibSize, FollowsTheHeader) {
  // 8 bits, 10 wide: rows of 12 bytes; a full 256-colour table.
  EXPECT_EQ(DibSize(Dib(10, 10, 8, 0, 0, 0).data()), 40 + 1024 + 120);
  EXPECT_EQ(DibSize(Dib(10, 10, 8, 0, 0, 16).data()), 40 + 64 + 120);   // biClrUsed
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
