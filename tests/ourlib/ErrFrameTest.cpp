#include "ourlib/src/ErrFrame.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ErrFrame, RaiseWithoutFrameReturnsTheCode) {
  ASSERT_EQ(ErrFrameHead(), nullptr);
  EXPECT_EQ(RaiseError(-14), -14);
  EXPECT_EQ(ErrFrameHead(), nullptr);
}

TEST(ErrFrame, GuardCatchesInnermostAndLeavesChainAsFound) {
  int inner = 0;
  int outer = Guard([&] {
    ErrFrame* mine = ErrFrameHead();
    ASSERT_NE(mine, nullptr);
    inner = Guard([&] {
      EXPECT_EQ(ErrFrameHead()->Previous(), mine);
      RaiseError(-60);
      ADD_FAILURE() << "RaiseError returned under a frame";
    });
    EXPECT_EQ(ErrFrameHead(), mine);  // the inner frame is gone on the raise path
    RaiseError(inner - 1);            // re-raise a different code to the outer frame
  });
  EXPECT_EQ(inner, -60);
  EXPECT_EQ(outer, -61);
  EXPECT_EQ(ErrFrameHead(), nullptr);
  EXPECT_EQ(Guard([] {}), 0);
  EXPECT_EQ(ErrFrameHead(), nullptr);
}

TEST(ErrFrame, RaiseErrorAtKeepsFirstUnlessForced) {
  FirstErrorRecord() = FirstError{nullptr, 0, 0};
  static const char kA[] = "a.cpp";
  static const char kB[] = "b.cpp";
  EXPECT_EQ(RaiseErrorAt(-5, 0, kA, 10), -5);
  EXPECT_EQ(RaiseErrorAt(-14, 0, kB, 20), -14);
  EXPECT_EQ(FirstErrorRecord().file, kA);
  EXPECT_EQ(FirstErrorRecord().line, 10);
  EXPECT_EQ(FirstErrorRecord().code, -5);
  EXPECT_EQ(Guard([&] { RaiseErrorAt(-52, 1, kB, 30); }), -52);
  EXPECT_EQ(FirstErrorRecord().file, kB);
  EXPECT_EQ(FirstErrorRecord().line, 30);
  EXPECT_EQ(FirstErrorRecord().code, -52);
  FirstErrorRecord() = FirstError{nullptr, 0, 0};
}

TEST(ErrFrame, AllocationHelpers) {
  void* p = MemAlloc(0);  // 0 counts as 1
  ASSERT_NE(p, nullptr);
  MemFreeNull(p);
  EXPECT_EQ(p, nullptr);
  unsigned char* z = static_cast<unsigned char*>(MemAllocZero(64));
  ASSERT_NE(z, nullptr);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(z[i], 0);
  z = static_cast<unsigned char*>(MemRealloc(z, 4096));
  ASSERT_NE(z, nullptr);
  MemFree(z);
  EXPECT_EQ(MemStrDup(nullptr), nullptr);
  char* s = MemStrDup("DKBT");
  EXPECT_EQ(std::string(s), "DKBT");
  MemFree(s);
}

}  // namespace
