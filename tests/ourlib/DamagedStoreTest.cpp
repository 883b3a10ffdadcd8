// Damaged stores: every offset, length and list read from the files is
// checked, so damage gives -5 or -14 and never a read outside a view, a
// hang or a corrupted free list.
#include <gtest/gtest.h>

#include <string>

#include "ourlib/src/ByteCodec.h"
#include "tests/ourlib/EngineTestKit.h"
#include "tests/support/TestPaths.h"

using namespace enginetest;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

class DamagedStore : public ::testing::Test {
 protected:
  void SetUp() override {
    Store s(dir / "s", MODE_CREATE);
    for (int i = 0; i < 400; ++i) Put(s.get(), 1, "name" + std::to_string(i), std::string(30, 'd'));
    ASSERT_EQ(TreeHeight(s->index->current), 2);
    s.Close();
    index = ReadFileBytes(dir / "s.DKX");
    data = ReadFileBytes(dir / "s.DKD");
  }
  int32_t IndexWord(size_t at) const {
    return GetI32(reinterpret_cast<const uint8_t*>(index.data()) + at);
  }
  void PatchIndex(size_t at, int32_t v) {
    std::string s = index;
    PutI32(reinterpret_cast<uint8_t*>(&s[at]), v);
    WriteFileBytes(dir / "s.DKX", s);
  }
  void PatchData(size_t at, int32_t v) {
    std::string s = data;
    PutI32(reinterpret_cast<uint8_t*>(&s[at]), v);
    WriteFileBytes(dir / "s.DKD", s);
  }
  // Opens, iterates, looks up and verifies; the first error code, or 0.
  int ReadAll(int mode = MODE_READ) {
    StoreEngine* e = nullptr;
    int rc = Guard([&] {
      e = StoreOpen((dir / "s").c_str(), RecConfig(), 0, mode, 0, 0);
      IndexFirst(e->index, nullptr, nullptr);
      uint8_t key[600];
      KeyOut ko;
      ko.buffer = key;
      ko.capacity = sizeof key;
      while (StoreNextRecord(e, &ko) > 0) {
      }
      std::vector<uint8_t> k = MakeKey(1, "name399");
      StoreGetRecord(e, k.data(), nullptr, 30);
    });
    if (rc == 0 && e != nullptr) verify = StoreVerify(e);
    StoreClose(e);
    return rc;
  }
  TempDir dir;
  std::string index, data, verify;
};

TEST_F(DamagedStore, SoundStoreReadsCleanly) {
  EXPECT_EQ(ReadAll(), 0);
  EXPECT_EQ(verify, "");
}

TEST_F(DamagedStore, UsedBytesAboveCapacity) {
  PatchIndex(64 + 8, 2100);
  EXPECT_EQ(ReadAll(), -5);
}

TEST_F(DamagedStore, ChildOutsideTheFileOrNotOnANode) {
  PatchIndex(64 + 4, 1 << 24);
  EXPECT_EQ(ReadAll(), -5);
  PatchIndex(64 + 4, 64 + 2048 + 100);
  EXPECT_EQ(ReadAll(), -5);
  PatchIndex(64 + 4, -7);
  EXPECT_EQ(ReadAll(), -5);
}

TEST_F(DamagedStore, KeyLengthRunningPastItsNode) {
  int32_t leaf = IndexWord(64 + 4);
  PatchIndex(static_cast<size_t>(leaf) + 16 + 8 + 22, 3000);  // the first key's name length
  EXPECT_EQ(ReadAll(), -5);
  PatchIndex(static_cast<size_t>(leaf) + 16 + 8 + 22, -30);
  EXPECT_EQ(ReadAll(), -5);
}

TEST_F(DamagedStore, DescentThatNeverEnds) {
  PatchIndex(64 + 4, 2112);  // a child pointing to itself below the root
  PatchIndex(2112 + 4, 2112);
  EXPECT_EQ(ReadAll(), -5);
  PatchIndex(32 + 10, 9);  // height 9
  EXPECT_EQ(ReadAll(), -5);
}

TEST_F(DamagedStore, FreeNodeListThatIsNoList) {
  PatchIndex(12, 64);  // the root is not a free node
  EXPECT_EQ(ReadAll(), 0);
  EXPECT_NE(verify, "");
  StoreEngine* e = nullptr;
  int rc = Guard([&] {
    e = StoreOpen((dir / "s").c_str(), RecConfig(), 0, MODE_UPDATE, 0, 0);
    for (int i = 0; i < 400; ++i) Put(e, 2, "more" + std::to_string(i), "x");
  });
  StoreClose(e);
  EXPECT_EQ(rc, -5);
}

TEST_F(DamagedStore, HeapBlockRunningPastTheFile) {
  PatchData(32, 0x7FFFF01);
  EXPECT_EQ(ReadAll(), -5);
}

TEST_F(DamagedStore, FreeListGoingBackwards) {
  StoreEngine* e = nullptr;
  {
    // Free two records so that the list has a block before the wilderness.
    Store st(dir / "s", MODE_UPDATE);
    std::vector<uint8_t> k = MakeKey(1, "name10");
    ASSERT_EQ(StoreRemoveKey(st.get(), k.data()), 0);
  }
  data = ReadFileBytes(dir / "s.DKD");
  int32_t first = GetI32(reinterpret_cast<const uint8_t*>(data.data()) + 12);
  PatchData(static_cast<size_t>(first) + 4, first);  // links to itself
  int rc = Guard([&] {
    e = StoreOpen((dir / "s").c_str(), RecConfig(), 0, MODE_UPDATE, 0, 0);
    Put(e, 1, "big", std::string(200, 'b'));
  });
  StoreClose(e);
  EXPECT_EQ(rc, -5);
}

// A key whose value is not a used block's record offset, and one whose
// stored length runs past its block and the file.
class DamagedValues : public ::testing::Test {
 protected:
  void SetUp() override {
    store.reset(new Store(dir / "v", MODE_CREATE));
    e = store->get();
    Put(e, 1, "a", "first record");
    // Bytes that look like the size word of a used 16-byte block.
    fake = Put(e, 1, "fake", std::string("\x11\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 20));
    Put(e, 1, "z", "last record");
  }
  TempDir dir;
  std::unique_ptr<Store> store;
  StoreEngine* e = nullptr;
  int32_t fake = 0;
};

TEST_F(DamagedValues, LengthPastTheBlockOrTheFile) {
  std::vector<uint8_t> k = MakeKey(1, "a");
  char buf[64];
  EXPECT_EQ(StoreGetRecord(e, k.data(), buf, 12), StoreGetRecord(e, k.data(), nullptr, 0));
  EXPECT_EQ(Guard([&] { StoreGetRecord(e, k.data(), buf, 17); }), -5) << "past its block";
  EXPECT_EQ(Guard([&] { StoreGetRecord(e, k.data(), nullptr, 1 << 30); }), -5) << "past the file";
  EXPECT_EQ(StoreGetRecord(e, k.data(), nullptr, 1 << 30), -1) << "without a frame";
}

TEST_F(DamagedValues, ValueInsideAnotherRecord) {
  std::vector<uint8_t> k = MakeKey(1, "bad");
  ASSERT_EQ(IndexInsert(e->index, k.data(), fake + 4), 0);
  ASSERT_NE(StoreVerify(e), "");
  EXPECT_EQ(Guard([&] { StoreGetRecord(e, k.data(), nullptr, 0); }), -5);
  EXPECT_EQ(Guard([&] { StoreRemoveKey(e, k.data()); }), -5);
  EXPECT_EQ(IndexLookup(e->index, k.data(), nullptr, nullptr), 0)
      << "a refused removal changes nothing";
  EXPECT_EQ(HeapFree(e->heap, fake + 4), -5);
  EXPECT_EQ(HeapVerify(e->heap), "") << "the free list is intact";
  IndexFirst(e->index, nullptr, nullptr);
  int codes = 0;
  for (int i = 0; i < 4; ++i) codes += StoreNextRecord(e, nullptr) == -1;
  EXPECT_EQ(codes, 1) << "the bad key is reported by iteration";
  // Removing it from the index alone restores a sound store.
  EXPECT_EQ(IndexDelete(e->index, k.data(), nullptr), 0);
  EXPECT_EQ(StoreVerify(e), "");
  EXPECT_EQ(Get(e, 1, "fake").size(), 20u);
}

TEST_F(DamagedValues, ValueOfAFreedBlock) {
  std::vector<uint8_t> a = MakeKey(1, "a");
  int32_t freed = StoreGetRecord(e, a.data(), nullptr, 0);
  ASSERT_EQ(StoreRemoveKey(e, a.data()), 0);  // its block stays a free block of its own
  std::vector<uint8_t> k = MakeKey(1, "bad");
  ASSERT_EQ(IndexInsert(e->index, k.data(), freed), 0);
  EXPECT_EQ(Guard([&] { StoreGetRecord(e, k.data(), nullptr, 0); }), -5);
  IndexFirst(e->index, nullptr, nullptr);
  int codes = 0;
  for (int i = 0; i < 4; ++i) codes += StoreNextRecord(e, nullptr) == -1;
  EXPECT_EQ(codes, 1);
}

}  // namespace
