#include <gtest/gtest.h>

#include <algorithm>

#include "tests/ourlib/PackTestKit.h"

namespace {

using namespace packtest;

Bytes Pack(const Bytes& in) { return Out(RlePack, in, int32_t(in.size() * 2 + 64)); }
Bytes Unpack(const Bytes& packed, int32_t capacity) { return Out(RleUnpack, packed, capacity); }

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes v;
  for (const Bytes& p : parts) v.insert(v.end(), p.begin(), p.end());
  return v;
}

// Streams worked out by hand (tokens, then the predictor), checked both ways.
TEST(RlePack, SmallInputsGiveTheStreamsWorkedOutByHand) {
  struct Case {
    const char* what;
    Bytes in, packed;
  } cases[] = {
      // tokens 40 64 41 00; the end token is guessed (table entries start 0)
      {"run of 100", Repeat(0x41, 100), {0x01, 0x08, 0x40, 0x64, 0x41}},
      // tokens 83 61 62 63 00
      {"three literals", Str("abc"), {0x01, 0x10, 0x83, 0x61, 0x62, 0x63}},
      // tokens 8A 78 79 78 79 78 79 78 | 79 78 79 00: the pairs repeat, so from
      // the 6th byte on the table guesses them; the end token is not guessed
      {"guessed pairs", Str("xyxyxyxyxy"), {0x01, 0xE0, 0x8A, 0x78, 0x79, 0x78, 0x79, 0x07, 0x00}},
      // tokens 86 61..66 00: the end token is a group's 8th byte, and no flag
      // byte follows it
      {"end token closes a group",
       Str("abcdef"),
       {0x01, 0x80, 0x86, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66}},
      // tokens 7F FF 00 01 00 00: 0x3FFF and then 1
      {"run of 0x4000 zeros", Repeat(0, 0x4000), {0x01, 0x34, 0x7F, 0xFF, 0x01}},
      // tokens 00
      {"empty input", {}, {0x01, 0x01}},
  };
  // The predictor table starts from zeros in every call, whatever the calls
  // before left in it: long and short streams, and one that failed.
  for (const Bytes& before : {Text(40000, 1), Bitmap(3000, 2)}) {
    Bytes packed = Pack(before);
    EXPECT_EQ(Unpack(packed, int32_t(before.size())), before);
    EXPECT_EQ(Call(RleUnpack, packed, int32_t(before.size()) - 1).code, ERR_PACK);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      EXPECT_EQ(Pack(c.in), c.packed);
      EXPECT_EQ(Unpack(c.packed, int32_t(c.in.size())), c.in);
    }
  }
}

TEST(RlePack, TokensSplitStretchesAndRunsAsDescribed) {
  Bytes lit64, lit3fff1;
  for (size_t i = 0; i < 64; ++i) lit64.push_back(uint8_t(i));
  for (size_t i = 0; i < 0x3FFF + 1; ++i) lit3fff1.push_back(uint8_t(i % 251));
  struct Case {
    const char* what;
    Bytes in, tokens;
  } cases[] = {
      {"two equal, then a run of three", Str("aabbb"), {0x82, 'a', 'a', 0x03, 'b', 0x00}},
      {"run, then two left over", Str("xxxyy"), {0x03, 'x', 0x82, 'y', 'y', 0x00}},
      {"run after run", Str("qqqqrrr"), {0x04, 'q', 0x03, 'r', 0x00}},
      {"run of 63", Repeat(7, 63), {0x3F, 7, 0x00}},
      {"run of 64", Repeat(7, 64), {0x40, 0x40, 7, 0x00}},
      {"run of 0x3FFF", Repeat(7, 0x3FFF), {0x7F, 0xFF, 7, 0x00}},
      {"run of 0x3FFF + 2", Repeat(7, 0x3FFF + 2), {0x7F, 0xFF, 7, 0x02, 7, 0x00}},
      {"run of 2 * 0x3FFF + 64",
       Repeat(7, 2 * 0x3FFF + 64),
       {0x7F, 0xFF, 7, 0x7F, 0xFF, 7, 0x40, 0x40, 7, 0x00}},
      {"literals of 64", lit64, Cat({{0xC0, 0x40}, lit64, {0x00}})},
      {"literals of 0x3FFF + 1", lit3fff1,
       Cat({{0xFF, 0xFF},
            Bytes(lit3fff1.begin(), lit3fff1.end() - 1),
            {0x81, lit3fff1.back(), 0x00}})},
      {"literals of 63 then a run", Cat({Bytes(lit64.begin(), lit64.end() - 1), Repeat(9, 3)}),
       Cat({{0xBF}, Bytes(lit64.begin(), lit64.end() - 1), {0x03, 9, 0x00}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes packed = Pack(c.in);
    EXPECT_EQ(RleTokenBytes(packed), c.tokens);
    EXPECT_EQ(Unpack(packed, int32_t(c.in.size())), c.in);
  }
}

TEST(RleRoundTrip, ManyShapesComeBackUnchanged) {
  std::vector<std::pair<std::string, Bytes>> inputs = {
      {"one byte", {0x00}},
      {"two bytes", {5, 5}},
      {"three equal", {5, 5, 5}},
      {"text", Text(40000, 11)},
      {"bitmap", Bitmap(90000, 12)},
      {"random", Random(30000, 13)},
      {"long run then noise", Cat({Repeat(0xEE, 100000), Random(300, 14)})},
  };
  for (size_t n : {63, 64, 0x3FFE, 0x3FFF, 0x4000, 2 * 0x3FFF, 2 * 0x3FFF + 1}) {
    inputs.push_back({"random of " + std::to_string(n), Random(n, uint32_t(n))});
    inputs.push_back({"run of " + std::to_string(n), Repeat(0x33, n)});
  }
  for (const auto& [what, in] : inputs) {
    SCOPED_TRACE(what);
    EXPECT_EQ(Unpack(Pack(in), int32_t(in.size())), in);
  }
}

// The stream form, handed the input in pieces of any size (runs and
// stretches going on across pieces, chunks of 0x3FFF among them), gives the
// bytes of the one call.
TEST(RlePackStream, GivesTheBytesOfOneCall) {
  std::mt19937 g(41);
  for (int t = 0; t < 60; ++t) {
    Bytes in;
    while (in.size() < size_t(t) * 2000) {
      const size_t n = g() % 3 == 0 ? (1 + g() % 2) * 0x3FFF - 1 + g() % 5 : 1 + g() % 70;
      if (g() % 2 == 0) {
        in.insert(in.end(), n, uint8_t(g() % 3));
      } else {
        for (size_t i = 0; i < n; ++i) in.push_back(uint8_t(i % 2 ? g() : i));
      }
    }
    const Bytes want = Pack(in);
    const size_t most = t % 2 ? 5 : 100000;
    ASSERT_EQ(InPieces(NewRlePackStream, in, most, uint32_t(t)).out, want) << t;
    EXPECT_EQ(RleUnpackInPieces(want, int32_t(in.size()), most, 7).out, in) << t;
  }
}

TEST(RlePack, CapacityIsExactAndFailureRaisesOrReturns51) {
  for (const Bytes& in : {Bitmap(3000, 15), Random(40, 16), Repeat(1, 200), Bytes{}}) {
    Bytes packed = Pack(in);
    int32_t n = int32_t(packed.size());
    EXPECT_EQ(Call(RlePack, in, n).out, packed);
    EXPECT_EQ(Call(RlePack, in, n - 1).code, ERR_PACK);
    Bytes dst(size_t(n - 1) + 1);  // one spare byte so data() is usable
    EXPECT_EQ(RlePack(in.data(), int32_t(in.size()), dst.data(), n - 1), ERR_PACK);
    EXPECT_EQ(ErrFrameHead(), nullptr);
  }
  Bytes noise = Random(5000, 17);
  EXPECT_EQ(Call(RlePack, noise, int32_t(noise.size())).code, ERR_PACK);
}

}  // namespace
