// Damaged streams: the unpackers stay inside their input and output and
// report -51. Inputs and outputs sit in heap buffers of exactly their size,
// so running these under AddressSanitizer shows any access past them.
#include <gtest/gtest.h>

#include "tests/ourlib/PackTestKit.h"

namespace {

using namespace packtest;

struct Method {
  const char* name;
  PackFn pack, unpack;
  Result (*stream)(const Bytes&, int32_t, size_t, uint32_t);
};
const Method kMethods[] = {{"lz", LzPack, LzUnpack, LzUnpackInPieces},
                           {"rle", RlePack, RleUnpack, RleUnpackInPieces}};

// The stream form gives what the one-call form gives, bytes or failure,
// whatever pieces the input comes in.
void ExpectSameAsStream(const Method& m, const Bytes& in, int32_t capacity, uint32_t seed) {
  const Result whole = Call(m.unpack, in, capacity);
  for (size_t most : {size_t{3}, size_t{70000}}) {
    const Result streamed = m.stream(in, capacity, most, seed);
    ASSERT_EQ(streamed.code, whole.code) << m.name << " in pieces of up to " << most;
    ASSERT_EQ(streamed.out, whole.out) << m.name << " in pieces of up to " << most;
  }
}

TEST(Damaged, EveryTruncationIsReported) {
  for (const Method& m : kMethods) {
    for (const Bytes& in : {Text(600, 21), Bitmap(2000, 22), Random(64, 23), Bytes{}}) {
      Result packed = Call(m.pack, in, int32_t(in.size() * 2 + 64));
      ASSERT_EQ(packed.code, 0);
      for (size_t cut = 0; cut < packed.out.size(); ++cut) {
        Bytes prefix(packed.out.begin(), packed.out.begin() + cut);
        ASSERT_EQ(Call(m.unpack, prefix, int32_t(in.size())).code, ERR_PACK)
            << m.name << " cut at " << cut;
        ExpectSameAsStream(m, prefix, int32_t(in.size()), uint32_t(cut));
      }
      EXPECT_EQ(Call(m.unpack, packed.out, int32_t(in.size())).out, in) << m.name;
    }
  }
}

TEST(Damaged, OutputOverCapacityIsReportedNotWritten) {
  for (const Method& m : kMethods) {
    for (const Bytes& in : {Text(900, 24), Repeat(3, 500), Random(40, 25)}) {
      Result packed = Call(m.pack, in, int32_t(in.size() * 2 + 64));
      ASSERT_EQ(packed.code, 0);
      int32_t n = int32_t(in.size());
      EXPECT_EQ(Call(m.unpack, packed.out, n).out, in) << m.name;
      EXPECT_EQ(Call(m.unpack, packed.out, n - 1).code, ERR_PACK) << m.name;
      EXPECT_EQ(Call(m.unpack, packed.out, 0).code, ERR_PACK) << m.name;
      // Without a frame the code is the result.
      Bytes dst(static_cast<size_t>(n));
      EXPECT_EQ(m.unpack(packed.out.data(), int32_t(packed.out.size()), dst.data(), n - 1),
                ERR_PACK);
    }
  }
}

TEST(Damaged, LzCopyBeforeTheFirstByteIsReported) {
  EXPECT_EQ(Call(LzUnpack, LzBuilder().Short(2, 1).End().bytes(), 100).code, ERR_PACK);
  EXPECT_EQ(Call(LzUnpack, LzBuilder().Lit(1).Short(2, 2).End().bytes(), 100).code, ERR_PACK);
  EXPECT_EQ(Call(LzUnpack, LzBuilder().Lit(1).Short(5, 1).End().bytes(), 100).out, Bytes(6, 1));
  Bytes history = Random(8192, 26);
  LzBuilder justShort, justEnough;
  for (size_t i = 0; i + 1 < history.size(); ++i) {
    justShort.Lit(history[i]);
    justEnough.Lit(history[i]);
  }
  justEnough.Lit(history.back());
  EXPECT_EQ(Call(LzUnpack, justShort.Long(3, 8192).End().bytes(), 9000).code, ERR_PACK);
  Result r = Call(LzUnpack, justEnough.Long(3, 8192).End().bytes(), 9000);
  ASSERT_EQ(r.code, 0);
  EXPECT_EQ(Bytes(r.out.begin() + 8192, r.out.end()), Bytes(history.begin(), history.begin() + 3));
  // B2 = 1 copies nothing, so its distance is never used.
  EXPECT_EQ(Call(LzUnpack, LzBuilder().Lit(9).LongB2(1, 8192).Lit(8).End().bytes(), 2).out,
            (Bytes{9, 8}));
}

TEST(Damaged, RleStreamsThatAskForMoreThanTheyHold) {
  struct Case {
    const char* what;
    Bytes packed;
    int32_t capacity;
  } cases[] = {
      {"nothing at all", {}, 10},
      {"leading byte only", {0x01}, 10},
      // tokens C0 10 and then 16 literals, of which only 5 are there
      {"too many literals", {0x01, 0x00, 0xC0, 0x10, 1, 2, 3, 4, 5}, 100},
      {"literal token beyond capacity", {0x01, 0x00, 0x83, 1, 2, 3, 0}, 2},
      {"run beyond capacity", {0x01, 0x00, 0x7F, 0xFF, 0x41, 0x00}, 0x3FFE},
      // eight bytes that are not the end token, and no flag byte after them
      {"group without a following flag byte", {0x01, 0x00, 0x86, 1, 2, 3, 4, 5, 6}, 100},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Call(RleUnpack, c.packed, c.capacity).code, ERR_PACK) << c.what;
  }
  // The same run fits when the capacity allows it.
  EXPECT_EQ(Call(RleUnpack, {0x01, 0x00, 0x7F, 0xFF, 0x41, 0x00}, 0x3FFF).out,
            Repeat(0x41, 0x3FFF));
}

// Arbitrary bytes and damaged packed streams: each call either gives at most
// the capacity or reports -51.
TEST(Damaged, ArbitraryBytesNeverEscapeTheirBuffers) {
  std::mt19937 g(27);
  Bytes good = Text(3000, 28);
  for (const Method& m : kMethods) {
    Result packed = Call(m.pack, good, 4000);
    ASSERT_EQ(packed.code, 0);
    for (int round = 0; round < 3000; ++round) {
      Bytes in;
      if (round % 2 == 0) {
        in = Random(g() % 300, g());
        if (m.pack == RlePack && !in.empty()) in[0] = 0x01;
      } else {
        in = packed.out;
        for (int k = 0; k < 1 + int(g() % 4); ++k) in[g() % in.size()] = uint8_t(g());
      }
      int32_t capacity = int32_t(g() % 5000);
      Result r = Call(m.unpack, in, capacity);
      ASSERT_TRUE(r.code == 0 || r.code == ERR_PACK) << m.name << " gave " << r.code;
      ASSERT_LE(r.out.size(), size_t(capacity));
      if (round % 10 == 0) ExpectSameAsStream(m, in, capacity, uint32_t(round));
    }
  }
}

}  // namespace
