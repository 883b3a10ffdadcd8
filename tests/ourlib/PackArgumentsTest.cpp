// The buffer arguments every pack and unpack call refuses before it reads or
// writes anything.
#include <gtest/gtest.h>

#include "tests/ourlib/PackTestKit.h"

namespace packtest {
namespace {

TEST(PackArguments, NegativeLengthsAndMissingBuffersRaise51) {
  uint8_t src[64] = {1};
  uint8_t dst[64] = {};
  for (PackFn fn : {LzPack, LzUnpack, RlePack, RleUnpack}) {
    EXPECT_EQ(Guard([&] { fn(src, -1, dst, 64); }), ERR_PACK);
    EXPECT_EQ(Guard([&] { fn(src, 8, dst, -1); }), ERR_PACK);
    EXPECT_EQ(Guard([&] { fn(nullptr, 8, dst, 64); }), ERR_PACK);
    EXPECT_EQ(Guard([&] { fn(src, 8, nullptr, 64); }), ERR_PACK);
    // Nothing was written on the way out.
    for (uint8_t b : dst) ASSERT_EQ(b, 0);
  }
}

}  // namespace
}  // namespace packtest
