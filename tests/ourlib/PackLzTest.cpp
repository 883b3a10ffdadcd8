#include <gtest/gtest.h>

#include <algorithm>

#include "tests/ourlib/PackTestKit.h"

namespace {

using namespace packtest;

Bytes Pack(const Bytes& in) { return Out(LzPack, in, int32_t(in.size() * 9 / 8 + 16)); }
Bytes Unpack(const Bytes& packed, int32_t capacity) { return Out(LzUnpack, packed, capacity); }

// Streams worked out by hand from the packer's steps, checked both ways.
TEST(LzPack, SmallInputsGiveTheStreamsWorkedOutByHand) {
  Bytes sixteen, fourteen;
  for (int i = 0; i < 16; ++i) sixteen.push_back(uint8_t(0x10 + i));
  for (int i = 0; i < 14; ++i) fourteen.push_back(uint8_t(0x20 + i));
  Bytes sixteenPacked = {0xFF, 0xFF};  // 16 literal bits; the 16th byte follows the next word
  sixteenPacked.insert(sixteenPacked.end(), sixteen.begin(), sixteen.end() - 1);
  sixteenPacked.insert(sixteenPacked.end(), {0x02, 0x00, 0x1F, 0x00, 0xF0, 0x00});
  Bytes fourteenPacked = {0xFF, 0xBF};  // the end token's second bit is the 16th
  fourteenPacked.insert(fourteenPacked.end(), fourteen.begin(), fourteen.end());
  fourteenPacked.insert(fourteenPacked.end(), {0x00, 0x00, 0x00, 0xF0, 0x00});

  struct Case {
    const char* what;
    Bytes in, packed;
  } cases[] = {
      {"three literals", Str("abc"), {0x17, 0x00, 0x61, 0x62, 0x63, 0x00, 0xF0, 0x00}},
      // literal, then a long copy of 99 at distance 1 (B2 = 98)
      {"run of 100", Repeat(0x41, 100), {0x15, 0x00, 0x41, 0xFF, 0xF8, 0x62, 0x00, 0xF0, 0x00}},
      // two literals, then a short copy of 4 at distance 2
      {"overlapping short copy", Str("ababab"), {0x93, 0x00, 0x61, 0x62, 0xFE, 0x00, 0xF0, 0x00}},
      {"16th bit by a literal", sixteen, sixteenPacked},
      {"16th bit by the end token", fourteen, fourteenPacked},
      // At the last "ab" both earlier "ab" match 2 bytes of input, but the
      // older one also matches the zero byte beyond the input's end, so it
      // wins and the copy refers 8 back, not 4.
      {"full comparison beyond the lookahead",
       {'a', 'b', 0, 'x', 'a', 'b', 'c', 'y', 'a', 'b'},
       {0x0F, 0x83, 0x61, 0x62, 0x00, 0x78, 0xFC, 0x63, 0x79, 0xF8, 0x00, 0x00, 0x00, 0xF0, 0x00}},
      {"empty input: end token only", {}, {0x02, 0x00, 0x00, 0xF0, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Pack(c.in), c.packed);
    EXPECT_EQ(Unpack(c.packed, int32_t(c.in.size())), c.in);
  }
}

// All byte values but the given ones, in order.
Bytes AllBut(std::initializer_list<uint8_t> skip, size_t n) {
  Bytes v;
  for (int b = 0; b < 256 && v.size() < n; ++b) {
    bool skipped = false;
    for (uint8_t s : skip) skipped = skipped || s == b;
    if (!skipped) v.push_back(uint8_t(b));
  }
  return v;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes v;
  for (const Bytes& p : parts) v.insert(v.end(), p.begin(), p.end());
  return v;
}

TEST(LzPack, TokenChoiceFollowsLengthAndDistance) {
  // Inputs of distinct bytes have no match but the one placed at the end.
  {
    SCOPED_TRACE("3 bytes at distance 256: long copy, not short");
    Bytes in = Cat({Str("XYZ"), AllBut({'X', 'Y', 'Z'}, 253), Str("XYZ")});
    LzBuilder b;
    for (size_t i = 0; i < 256; ++i) b.Lit(in[i]);
    EXPECT_EQ(Pack(in), b.Long(3, 256).End().bytes());
  }
  {
    SCOPED_TRACE("2 bytes at distance 256: literals");
    Bytes in = Cat({Str("XY"), AllBut({'X', 'Y'}, 254), Str("XY")});
    LzBuilder b;
    for (uint8_t c : in) b.Lit(c);
    EXPECT_EQ(Pack(in), b.End().bytes());
  }
  {
    SCOPED_TRACE("2 bytes at distance 255: short copy");
    Bytes in = Cat({Str("XY"), AllBut({'X', 'Y'}, 253), Str("XY")});
    LzBuilder b;
    for (size_t i = 0; i < 255; ++i) b.Lit(in[i]);
    EXPECT_EQ(Pack(in), b.Short(2, 255).End().bytes());
  }
  {
    SCOPED_TRACE("6 bytes at distance 10: long copy with the count in B1");
    Bytes in = Cat({Str("uvwxyz"), Str("ABCD"), Str("uvwxyz")});
    LzBuilder b;
    for (size_t i = 0; i < 10; ++i) b.Lit(in[i]);
    EXPECT_EQ(Pack(in), b.Long(6, 10).End().bytes());
  }
  {
    SCOPED_TRACE("equal lengths: the newer match wins");
    LzBuilder b;
    b.Lit('a').Lit('b').Lit('X').Short(2, 3).Lit('Y').Short(2, 3);
    EXPECT_EQ(Pack(Str("abXabYab")), b.End().bytes());
  }
  {
    SCOPED_TRACE("a match never exceeds 253 bytes");
    LzBuilder b;
    b.Lit('A').LongB2(252, 1).LongB2(252, 1).LongB2(252, 1).LongB2(239, 1);
    EXPECT_EQ(Pack(Repeat('A', 1000)), b.End().bytes());
  }
}

// The unpacker on streams built token by token, against copies made by hand.
TEST(LzUnpack, DecodesEveryTokenFormAtItsBoundaries) {
  Bytes prefix = Random(8192, 7);  // enough history for the longest distance
  LzBuilder b;
  for (uint8_t c : prefix) b.Lit(c);
  Bytes want = prefix;
  auto copy = [&](int count, int dist) {
    for (int i = 0; i < count; ++i) want.push_back(want[want.size() - dist]);
  };
  for (int count = 2; count <= 5; ++count) {
    for (int dist : {1, 2, 255, 256}) {
      b.Short(count, dist);
      copy(count, dist);
    }
  }
  for (int count = 3; count <= 9; ++count) {
    for (int dist : {1, 256, 257, 8191, 8192}) {
      b.Long(count, dist);
      copy(count, dist);
    }
  }
  for (int b2 = 2; b2 <= 255; ++b2) {
    int dist = b2 % 2 ? 8192 : 1 + b2;
    b.LongB2(b2, dist);
    copy(b2 + 1, dist);
  }
  b.LongB2(1, 8192);  // copies nothing; decoding goes on
  b.Lit(0x5A);
  want.push_back(0x5A);
  b.End();
  EXPECT_EQ(Unpack(b.bytes(), int32_t(want.size())), want);
}

TEST(LzRoundTrip, ManyShapesComeBackUnchanged) {
  std::vector<std::pair<std::string, Bytes>> inputs = {
      {"one byte", {0x7E}},         {"two bytes", {0, 0}},
      {"32 zeros", Repeat(0, 32)},  {"run over 0x3FFF", Repeat(0xAA, 0x4000 + 5)},
      {"text", Text(50000, 1)},     {"bitmap", Bitmap(70000, 2)},
      {"random", Random(20000, 3)},
  };
  for (size_t n : {252, 253, 254, 8191, 8192, 8193, 8192 + 253, 0x3FFE, 0x3FFF, 0x4000}) {
    inputs.push_back({"text of " + std::to_string(n), Text(n, uint32_t(n))});
    inputs.push_back({"random of " + std::to_string(n), Random(n, uint32_t(n))});
  }
  // A pattern that repeats just beyond the window: matches must not reach
  // data that has left the ring.
  Bytes far = Random(8000, 9);
  inputs.push_back({"repeat at 8000", Cat({far, far, far})});
  for (const auto& [what, in] : inputs) {
    SCOPED_TRACE(what);
    Bytes packed = Pack(in);
    ASSERT_FALSE(packed.empty());
    EXPECT_EQ(Unpack(packed, int32_t(in.size())), in);
  }
}

// Inputs that take the search's shortcuts: runs of every length (also
// longer than the window), few byte values, rows repeated with changes,
// and repeats at and just past the farthest distance.
std::vector<Bytes> SearchShapes() {
  std::mt19937 g(31);
  std::vector<Bytes> shapes;
  for (int t = 0; t < 120; ++t) {
    const size_t n = t % 4 == 0 ? g() % 600 : g() % (t % 10 == 1 ? 70000 : 20000);
    const unsigned values = 1 + g() % 6;
    const size_t longest = size_t{4} << (2 * (g() % 6));  // 4 .. 4096
    Bytes v;
    while (v.size() < n) {
      switch (t % 3) {
        case 0:  // runs
          v.insert(v.end(), 1 + g() % longest, uint8_t(g() % values));
          break;
        case 1:  // few values, now and then any
          v.push_back(uint8_t(g() % 5 == 0 ? g() : g() % values));
          break;
        default:  // a row repeated with a few bytes changed
          if (v.size() < 200) {
            v.push_back(uint8_t(g() % values));
          } else {
            Bytes row(v.end() - 1 - g() % 199, v.end());
            for (int k = 0; k < 2; ++k) row[g() % row.size()] = uint8_t(g() % values);
            v.insert(v.end(), row.begin(), row.end());
          }
      }
    }
    v.resize(n);
    shapes.push_back(v);
  }
  for (size_t dist : {7938, 7939, 7940}) {
    Bytes v = Random(dist + 400, uint32_t(dist));
    std::copy(v.begin(), v.begin() + 300, v.begin() + dist);
    shapes.push_back(v);
  }
  shapes.push_back(Cat({Repeat(7, 9000), Random(50, 1), Repeat(7, 8100), Random(50, 2)}));
  return shapes;
}

// The fast search against the game's chain walk, byte for byte; the stream
// form, handed the input in pieces of any size, gives the same bytes.
TEST(LzPack, GivesTheBytesOfTheGamesChainWalk) {
  std::mt19937 g(32);
  for (const Bytes& in : SearchShapes()) {
    SCOPED_TRACE(in.size());
    const Bytes want = ReferenceLzPack(in);
    ASSERT_EQ(Pack(in), want);
    EXPECT_EQ(InPieces(NewLzPackStream, in, 1 + g() % 90000, g()).out, want);
    // And the stream form of the unpacker gives the input back.
    EXPECT_EQ(LzUnpackInPieces(want, int32_t(in.size()), 40000, 7).out, in);
  }
}

TEST(LzPack, CapacityIsExactAndFailureRaisesOrReturns51) {
  for (const Bytes& in : {Text(3000, 5), Random(100, 6), Repeat(1, 40)}) {
    Bytes packed = Pack(in);
    int32_t n = int32_t(packed.size());
    EXPECT_EQ(Call(LzPack, in, n).out, packed);  // exact fit
    EXPECT_EQ(Call(LzPack, in, n - 1).code, ERR_PACK);
    // Without a frame the code comes back as the result.
    Bytes dst(size_t(n - 1));
    EXPECT_EQ(LzPack(in.data(), int32_t(in.size()), dst.data(), n - 1), ERR_PACK);
    EXPECT_EQ(ErrFrameHead(), nullptr);
  }
  // Random data does not fit in a buffer as large as itself.
  Bytes noise = Random(5000, 4);
  EXPECT_EQ(Call(LzPack, noise, int32_t(noise.size())).code, ERR_PACK);
}

}  // namespace
