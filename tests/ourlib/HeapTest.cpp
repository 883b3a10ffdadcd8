// The data heap's allocation, splitting, merging and shrinking.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "ourlib/src/ByteCodec.h"
#include "ourlib/src/DataHeap.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/StoreEngine.h"
#include "tests/support/TestPaths.h"

using testing_support::ReadFileBytes;
using testing_support::TempDir;

namespace {

struct CloseHeap {
  void operator()(DataHeap* h) const { HeapClose(h); }
};
using HeapHandle = std::unique_ptr<DataHeap, CloseHeap>;

int32_t Word(DataHeap* h, uint32_t off) { return GetI32(h->file.base + off); }
int32_t FreeHead(DataHeap* h) { return Word(h, 12); }

class HeapTest : public ::testing::Test {
 protected:
  TempDir dir;
  HeapHandle heap{HeapCreate((dir / "h.DKD").c_str())};
};

TEST_F(HeapTest, FirstAllocationCarvesFromTheWilderness) {
  ASSERT_TRUE(heap);
  EXPECT_EQ(HeapAlloc(heap.get(), 10), 36);
  EXPECT_EQ(Word(heap.get(), 32), 17) << "size 16, in use";
  EXPECT_EQ(FreeHead(heap.get()), 48);
  EXPECT_EQ(MapLogicalSize(&heap->file), 56u);
  EXPECT_EQ(Word(heap.get(), 48), 0x3FFFFFE0 - 16);
  EXPECT_EQ(Word(heap.get(), 52), 0);
  EXPECT_EQ(HeapVerify(heap.get()), "");
}

TEST_F(HeapTest, SmallAndEmptyAllocations) {
  EXPECT_EQ(HeapAlloc(heap.get(), 0), -1);
  EXPECT_EQ(MapLogicalSize(&heap->file), 40u);
  EXPECT_EQ(FreeHead(heap.get()), 32);
  EXPECT_EQ(HeapAlloc(heap.get(), 4), 36);
  EXPECT_EQ(Word(heap.get(), 32), 9) << "an 8-byte block";
  EXPECT_EQ(HeapAlloc(heap.get(), 5), 44);
  EXPECT_EQ(Word(heap.get(), 40), 13) << "5 bytes need a 12-byte block";
}

TEST_F(HeapTest, FreeingTheOnlyRecordRestoresTheNewHeap) {
  int32_t r = HeapAlloc(heap.get(), 10);
  EXPECT_EQ(HeapFree(heap.get(), r), 0);
  EXPECT_EQ(FreeHead(heap.get()), 32);
  EXPECT_EQ(MapLogicalSize(&heap->file), 40u);
  EXPECT_EQ(Word(heap.get(), 32), 0x3FFFFFE0);
  EXPECT_EQ(HeapVerify(heap.get()), "");
  heap.reset();
  EXPECT_EQ(ReadFileBytes(dir / "h.DKD").size(), 40u);
}

TEST_F(HeapTest, NeighboursMergeAndTheMergedBlockIsReusedFirst) {
  int32_t a = HeapAlloc(heap.get(), 20), b = HeapAlloc(heap.get(), 20),
          c = HeapAlloc(heap.get(), 20);
  HeapAlloc(heap.get(), 20);
  EXPECT_EQ(HeapFree(heap.get(), a), 0);
  EXPECT_EQ(HeapFree(heap.get(), c), 0);
  EXPECT_EQ(HeapVerify(heap.get()), "");
  EXPECT_EQ(HeapFree(heap.get(), b), 0);  // merges with both a and c
  EXPECT_EQ(FreeHead(heap.get()), a - 4);
  EXPECT_EQ(Word(heap.get(), a - 4), 3 * 24);
  EXPECT_EQ(HeapVerify(heap.get()), "");
  EXPECT_EQ(HeapAlloc(heap.get(), 60), a) << "first fit by address takes the merged block";
  EXPECT_EQ(Word(heap.get(), a - 4), 72 | 1) << "a 68-byte need leaves 4 bytes, too few to split";
  EXPECT_EQ(HeapVerify(heap.get()), "");
}

TEST_F(HeapTest, SplitLeavesRemainderOnTheListInPlace) {
  int32_t a = HeapAlloc(heap.get(), 100);
  int32_t b = HeapAlloc(heap.get(), 8);
  HeapFree(heap.get(), a);
  EXPECT_EQ(HeapAlloc(heap.get(), 10), a);
  EXPECT_EQ(FreeHead(heap.get()), a - 4 + 16);
  EXPECT_EQ(Word(heap.get(), a + 12), 104 - 16);
  EXPECT_EQ(Word(heap.get(), a + 16), b + 8) << "the remainder links to the wilderness";
  EXPECT_EQ(HeapVerify(heap.get()), "");
}

TEST_F(HeapTest, FreeingTheLastRecordShrinksTheFile) {
  HeapAlloc(heap.get(), 10);
  int32_t b = HeapAlloc(heap.get(), 30);
  uint32_t before = MapLogicalSize(&heap->file);
  HeapFree(heap.get(), b);
  EXPECT_EQ(MapLogicalSize(&heap->file), before - 36);
  EXPECT_EQ(HeapFree(heap.get(), 0), 0);
  EXPECT_EQ(HeapFree(heap.get(), 100000), 0) << "past the logical size: ignored";
  EXPECT_EQ(HeapVerify(heap.get()), "");
}

TEST_F(HeapTest, OffsetsThatAreNoUsedBlockAreRefused) {
  int32_t a = HeapAlloc(heap.get(), 24);
  int32_t b = HeapAlloc(heap.get(), 24);
  // Record bytes that look like a used block's size word.
  uint8_t fake[24] = {0x11, 0, 0, 0, 0, 0, 0, 0};
  MapWrite(&heap->file, static_cast<uint32_t>(a), fake, sizeof fake);
  EXPECT_EQ(HeapFree(heap.get(), a + 4), -5) << "inside a record";
  EXPECT_EQ(HeapFree(heap.get(), a + 2), -5) << "not aligned";
  EXPECT_EQ(HeapFree(heap.get(), 20), -5) << "inside the header";
  EXPECT_EQ(HeapCheckRecord(heap.get(), a + 4, 0), -5);
  EXPECT_EQ(HeapCheckRecord(heap.get(), b, 24), 0);
  EXPECT_EQ(HeapCheckRecord(heap.get(), b, 25), -5) << "longer than its block";
  EXPECT_EQ(HeapFree(heap.get(), b), 0);
  EXPECT_EQ(HeapFree(heap.get(), b), -5) << "a block already free";
  EXPECT_EQ(HeapVerify(heap.get()), "");
}

// The first fit by a walk of the file's free list, as the layout rules define it.
int32_t WalkFirstFit(DataHeap* h, uint32_t length) {
  uint32_t need = (length + 7) & ~3u;
  if (need < 8) need = 8;
  for (int32_t cur = FreeHead(h); cur != 0; cur = Word(h, static_cast<uint32_t>(cur) + 4)) {
    if (static_cast<uint32_t>(Word(h, static_cast<uint32_t>(cur))) >= need) return cur + 4;
  }
  return -2;
}

TEST_F(HeapTest, AllocationTakesTheSameBlockAsAWalkOfTheList) {
  std::mt19937 rng(5);
  std::vector<int32_t> live;
  for (int i = 0; i < 4000; ++i) {
    if (live.empty() || rng() % 5 < 3) {
      uint32_t len = 1 + rng() % 300;
      int32_t expected = WalkFirstFit(heap.get(), len);
      int32_t got = HeapAlloc(heap.get(), len);
      ASSERT_EQ(got, expected) << "allocation " << i;
      live.push_back(got);
    } else {
      size_t k = rng() % live.size();
      ASSERT_EQ(HeapFree(heap.get(), live[k]), 0);
      live[k] = live.back();
      live.pop_back();
    }
    if (i % 200 == 0) {
      ASSERT_EQ(HeapVerify(heap.get()), "") << i;
    }
  }
  ASSERT_EQ(HeapVerify(heap.get()), "");
}

}  // namespace
