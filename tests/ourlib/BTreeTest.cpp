// The B-tree's documented shapes: ordering, the split rule, growth at the
// top, duplicates, node reuse, bulk copy and the node-size boundaries.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ourlib/src/ByteCodec.h"
#include "tests/ourlib/EngineTestKit.h"
#include "tests/support/TestPaths.h"

using namespace enginetest;
using testing_support::TempDir;

namespace {

struct CloseIndex {
  void operator()(IndexFile* ix) const { IndexClose(ix); }
};
using IndexHandle = std::unique_ptr<IndexFile, CloseIndex>;

const uint8_t* NodeAt(IndexFile* ix, int32_t off) { return ix->file.base + off; }
int32_t Left(IndexFile* ix, int32_t off) { return GetI32(NodeAt(ix, off) + 4); }
int Used(IndexFile* ix, int32_t off) { return GetI16(NodeAt(ix, off) + 8); }

std::vector<int32_t> LongKeys(IndexFile* ix) {
  std::vector<int32_t> out;
  IndexFirst(ix, nullptr, nullptr);
  int32_t key;
  KeyOut ko;
  ko.buffer = &key;
  ko.capacity = 4;
  while (IndexNext(ix, &ko, nullptr, nullptr) == 0) out.push_back(key);
  return out;
}

class LongTree : public ::testing::Test {
 protected:
  TempDir dir;
  IndexHandle ix{IndexCreate((dir / "t.DKX").c_str(), BuiltinKeyConfig(KEY_LONG), 0)};
};

TEST_F(LongTree, EmptyTreeHasNoKeys) {
  ASSERT_TRUE(ix);
  IndexFirst(ix.get(), nullptr, nullptr);
  EXPECT_EQ(IndexNext(ix.get(), nullptr, nullptr, nullptr), -4);
  EXPECT_EQ(IndexNext(ix.get(), nullptr, nullptr, nullptr), -4);
  int32_t k = 5;
  EXPECT_EQ(IndexLookup(ix.get(), &k, nullptr, nullptr), -4);
  EXPECT_EQ(IndexDelete(ix.get(), &k, nullptr), -4);
}

TEST_F(LongTree, RootSplitsAtTheMedianAndGrowsInPlace) {
  // 169 entries of 12 bytes fill 2028 of 2032 bytes; the 170th splits.
  for (int32_t i = 0; i < 170; ++i) ASSERT_EQ(IndexInsert(ix.get(), &i, i * 10), 0);
  TreeDescriptor* t = ix->current;
  EXPECT_EQ(TreeRoot(t), 64);
  EXPECT_EQ(TreeHeight(t), 2);
  // Median: the last entry starting before 2028/2 + 4 = 1018, at 1008 (key 84).
  EXPECT_EQ(Used(ix.get(), 64), 12);
  const uint8_t* e = NodeAt(ix.get(), 64) + 16;
  EXPECT_EQ(GetI32(e + 8), 84);
  EXPECT_EQ(GetI32(e + 4), 840);
  int32_t right = GetI32(e), left = Left(ix.get(), 64);
  EXPECT_EQ(right, 2112) << "the new right node is allocated first";
  EXPECT_EQ(left, 4160) << "then the copy of the old root";
  EXPECT_EQ(GetI32(NodeAt(ix.get(), left)), left);
  EXPECT_EQ(GetI32(NodeAt(ix.get(), right)), right);
  EXPECT_EQ(Used(ix.get(), left), 84 * 12);
  EXPECT_EQ(Used(ix.get(), right), 85 * 12);
  EXPECT_EQ(Left(ix.get(), right), -1);
  EXPECT_EQ(GetI32(NodeAt(ix.get(), right) + 16 + 8), 85);
  std::vector<int32_t> keys = LongKeys(ix.get());
  ASSERT_EQ(keys.size(), 170u);
  for (int32_t i = 0; i < 170; ++i) EXPECT_EQ(keys[static_cast<size_t>(i)], i);
  EXPECT_EQ(IndexVerify(ix.get()), "");
  int32_t dup = 84;
  EXPECT_EQ(Guard([&] { IndexInsert(ix.get(), &dup, 1); }), -61);
  EXPECT_EQ(IndexInsert(ix.get(), &dup, 1), -61) << "without a frame the code comes back";
}

TEST_F(LongTree, DeletingEverythingReusesTheFreedNodes) {
  for (int32_t i = 0; i < 3000; ++i) {
    int32_t k = (i * 7919) % 3000;
    ASSERT_EQ(IndexInsert(ix.get(), &k, k), 0);
  }
  uint32_t size = MapLogicalSize(&ix->file);
  for (int32_t i = 0; i < 3000; ++i) {
    int32_t k = (i * 104729) % 3000, v = -1;
    ASSERT_EQ(IndexDelete(ix.get(), &k, &v), 0) << k;
    EXPECT_EQ(v, k);
    if (i % 500 == 0) {
      ASSERT_EQ(IndexVerify(ix.get()), "") << i;
    }
  }
  EXPECT_EQ(TreeHeight(ix->current), 1);
  IndexFirst(ix.get(), nullptr, nullptr);
  EXPECT_EQ(IndexNext(ix.get(), nullptr, nullptr, nullptr), -4);
  EXPECT_NE(MapFreeHead(&ix->file), -1);
  EXPECT_EQ(IndexVerify(ix.get()), "");
  for (int32_t k = 0; k < 3000; ++k) {
    bool freeLeft = MapFreeHead(&ix->file) != -1;
    uint32_t before = MapLogicalSize(&ix->file);
    ASSERT_EQ(IndexInsert(ix.get(), &k, k), 0);
    if (freeLeft) {
      ASSERT_EQ(MapLogicalSize(&ix->file), before) << "freed nodes are taken before the file grows";
    }
  }
  EXPECT_EQ(MapLogicalSize(&ix->file) > size, MapFreeHead(&ix->file) == -1);
  EXPECT_EQ(IndexVerify(ix.get()), "");
}

TEST(BTree, DuplicatesGoDirectlyAfterTheFirstEqualEntry) {
  TempDir dir;
  IndexHandle ix(IndexCreate((dir / "d.DKX").c_str(), BuiltinKeyConfig(KEY_LONG), 1));
  int32_t k = 7, other = 3;
  IndexInsert(ix.get(), &other, 0);
  for (int32_t v = 1; v <= 3; ++v) ASSERT_EQ(IndexInsert(ix.get(), &k, v), 0);
  IndexFirst(ix.get(), nullptr, nullptr);
  std::vector<int32_t> values;
  int32_t v;
  while (IndexNext(ix.get(), nullptr, &v, nullptr) == 0) values.push_back(v);
  EXPECT_EQ(values, (std::vector<int32_t>{0, 1, 3, 2}));
  EXPECT_EQ(IndexVerify(ix.get()), "");
}

TEST(BTree, ShorterNamesSortFirstWithinASection) {
  TempDir dir;
  Store s(dir / "s", MODE_CREATE);
  Put(s.get(), 1, "AA", "x");
  Put(s.get(), 1, "B", "y");
  Put(s.get(), 0, "ZZZ", "z");
  IndexFirst(s->index, nullptr, nullptr);
  uint8_t key[600];
  KeyOut ko;
  ko.buffer = key;
  ko.capacity = sizeof key;
  std::vector<std::string> names;
  while (StoreNextRecord(s.get(), &ko) > 0) names.push_back(KeyName(key));
  EXPECT_EQ(names, (std::vector<std::string>{"ZZZ", "B", "AA"}));
}

TEST(BTree, FilterSkipsKeysAndEndClearsIt) {
  TempDir dir;
  Store s(dir / "s", MODE_CREATE);
  for (int i = 0; i < 40; ++i)
    Put(s.get(), static_cast<uint8_t>(i % 4), "n" + std::to_string(i), "d");
  uint8_t section = 2;
  auto filter = [](const void* key, void* data) -> int {
    return static_cast<const uint8_t*>(key)[0] != *static_cast<uint8_t*>(data);
  };
  IndexFirst(s->index, filter, &section);
  KeyOut ko;
  ko.allocate = true;
  int n = 0;
  while (StoreNextRecord(s.get(), &ko) > 0) {
    EXPECT_EQ(static_cast<uint8_t*>(ko.buffer)[0], 2);
    MemFreeNull(ko.buffer);
    ++n;
  }
  EXPECT_EQ(n, 10);
  EXPECT_EQ(s->index->current->filter, nullptr);
  EXPECT_EQ(StoreNextRecord(s.get(), &ko), -4);
  uint8_t small[8];
  KeyOut tiny;
  tiny.buffer = small;
  tiny.capacity = sizeof small;
  IndexFirst(s->index, nullptr, nullptr);
  EXPECT_EQ(IndexNext(s->index, &tiny, nullptr, nullptr), -14) << "a key longer than the buffer";
}

TEST(BTree, NodeSizeBoundaries) {
  TempDir dir;
  auto text = [](char first, size_t len) {
    return std::string(1, first) + std::string(len - 2, 'x');
  };
  // A text index holding two keys, text('b', a) and text('c', b).
  auto twoKeys = [&](const char* name, size_t a, size_t b) {
    IndexHandle ix(IndexCreate((dir / name).c_str(), BuiltinKeyConfig(KEY_TEXT), 0));
    IndexInsert(ix.get(), text('b', a).c_str(), 1);
    IndexInsert(ix.get(), text('c', b).c_str(), 2);
    return ix;
  };
  {
    // One entry of exactly 2032 bytes fits into an empty node.
    IndexHandle ix(IndexCreate((dir / "a.DKX").c_str(), BuiltinKeyConfig(KEY_TEXT), 0));
    std::string k = text('m', 2024);
    ASSERT_EQ(IndexInsert(ix.get(), k.c_str(), 1), 0);
    EXPECT_EQ(Used(ix.get(), 64), 2032);
    EXPECT_EQ(TreeHeight(ix->current), 1);
    std::string big = text('n', 2025);
    EXPECT_EQ(IndexInsert(ix.get(), big.c_str(), 1), -2) << "an entry larger than a node";
    ASSERT_EQ(IndexInsert(ix.get(), "", 2), 0);
    EXPECT_EQ(TreeHeight(ix->current), 2);
    EXPECT_EQ(IndexVerify(ix.get()), "");
  }
  {
    // 2023 bytes in use take a 9-byte entry and are then exactly full.
    IndexHandle ix = twoKeys("b.DKX", 1001, 1006);
    ASSERT_EQ(Used(ix.get(), 64), 2023);
    ASSERT_EQ(IndexInsert(ix.get(), "", 3), 0);
    EXPECT_EQ(Used(ix.get(), 64), 2032);
    EXPECT_EQ(TreeHeight(ix->current), 1);
  }
  {
    // 2024 bytes in use split.
    IndexHandle ix = twoKeys("c.DKX", 1001, 1007);
    std::string b = text('c', 1007);
    ASSERT_EQ(Used(ix.get(), 64), 2024);
    ASSERT_EQ(IndexInsert(ix.get(), "", 3), 0);
    EXPECT_EQ(TreeHeight(ix->current), 2);
    EXPECT_EQ(TreeRoot(ix->current), 64);
    EXPECT_EQ(IndexVerify(ix.get()), "");
    // The split left the new right node empty under the promoted entry.
    EXPECT_EQ(Used(ix.get(), GetI32(NodeAt(ix.get(), 64) + 16)), 0);
    ASSERT_EQ(IndexDelete(ix.get(), &b[0], nullptr), 0);
    EXPECT_EQ(IndexVerify(ix.get()), "");
    IndexFirst(ix.get(), nullptr, nullptr);
    int n = 0;
    while (IndexNext(ix.get(), nullptr, nullptr, nullptr) == 0) ++n;
    EXPECT_EQ(n, 2);
  }
}

TEST(BTree, BulkCopyGivesTheSameKeysAndAWorkingTree) {
  TempDir dir;
  IndexHandle src(IndexCreate((dir / "s.DKX").c_str(), BuiltinKeyConfig(KEY_LONG), 0));
  for (int32_t i = 0; i < 5000; ++i) {
    int32_t k = (i * 7919) % 5000 * 2;
    IndexInsert(src.get(), &k, k + 1);
  }
  IndexHandle dst(IndexCreate((dir / "d.DKX").c_str(), BuiltinKeyConfig(KEY_LONG), 0));
  ASSERT_EQ(IndexBulkCopy(dst.get(), src.get()), 0);
  EXPECT_EQ(IndexVerify(dst.get()), "");
  EXPECT_EQ(LongKeys(dst.get()), LongKeys(src.get()));
  EXPECT_EQ(Left(dst.get(), GetI32(NodeAt(dst.get(), 64) + 16)), -1)
      << "a node started on the right edge has no leftmost child";
  // Nodes are filled completely: 169 entries of 12 bytes per node.
  EXPECT_EQ(Used(dst.get(), Left(dst.get(), 64)), 2028);
  for (int32_t k = 1; k < 200; k += 2) ASSERT_EQ(IndexInsert(dst.get(), &k, 0), 0);
  for (int32_t k = 0; k < 10000; k += 4) ASSERT_EQ(IndexDelete(dst.get(), &k, nullptr), 0) << k;
  EXPECT_EQ(IndexVerify(dst.get()), "");
  EXPECT_EQ(LongKeys(dst.get()).size(), 5000u + 100u - 2500u);
  int32_t k = 6;
  int32_t v = 0;
  EXPECT_EQ(IndexLookup(dst.get(), &k, &v, nullptr), 0);
  EXPECT_EQ(v, 7);
}

}  // namespace

namespace {

TEST(BTree, InsertThatWouldNeedANinthLevelIsRefusedUnchanged) {
  TempDir dir;
  IndexHandle ix(IndexCreate((dir / "deep.DKX").c_str(), BuiltinKeyConfig(KEY_TEXT), 0));
  // Entries of about 1000 bytes: two per node, so the tree deepens quickly.
  auto key = [](int i) {
    char head[16];
    std::snprintf(head, sizeof head, "%08d", i);
    return std::string(head) + std::string(990, 'k');
  };
  int i = 0, rc = 0;
  for (; i < 100000 && rc == 0; ++i) rc = IndexInsert(ix.get(), key(i).c_str(), i);
  ASSERT_EQ(rc, -2);
  EXPECT_EQ(TreeHeight(ix->current), 8);
  EXPECT_EQ(IndexVerify(ix.get()), "");
  IndexFirst(ix.get(), nullptr, nullptr);
  int n = 0;
  while (IndexNext(ix.get(), nullptr, nullptr, nullptr) == 0) ++n;
  EXPECT_EQ(n, i - 1) << "every key before the refused one is kept, the refused one is not";
  std::string refused = key(i - 1);
  EXPECT_EQ(IndexLookup(ix.get(), &refused[0], nullptr, nullptr), -4);
  // Deleting makes room again.
  for (int k = 0; k < 50; ++k) {
    std::string s = key(k);
    ASSERT_EQ(IndexDelete(ix.get(), &s[0], nullptr), 0);
  }
  EXPECT_EQ(IndexVerify(ix.get()), "");
}

}  // namespace

namespace {

// 18 records with 512-byte names make a compacted tree of three levels whose
// right edge is a chain of nodes without a leftmost child:
//   root [copy] K16 -> D;  D [-1] K17 -> E;  E [-1] K18
// Deleting K18 empties E, which has no sibling on either side.
std::string LongName(int i) {
  char head[8];
  std::snprintf(head, sizeof head, "K%02d", i);
  return std::string(head) + std::string(509, 'x');
}

void MakeCompactedLongNames(const std::string& path) {
  {
    Store s(path, MODE_CREATE);
    for (int i = 1; i <= 18; ++i)
      ASSERT_GT(Put(s.get(), 1, LongName(i), "r" + std::to_string(i)), 0);
  }
  std::string p = path;
  ASSERT_EQ(StoreCompact(&p[0], RecConfig()), 0);
}

TEST(BTree, CompactedRightEdgeStaysDeletableAndReplaceable) {
  TempDir dir;
  MakeCompactedLongNames(dir / "c");
  Store s(dir / "c", MODE_UPDATE);
  ASSERT_TRUE(s);
  ASSERT_EQ(TreeHeight(s->index->current), 3);
  std::vector<uint8_t> k18 = MakeKey(1, LongName(18));
  ASSERT_EQ(StoreRemoveKey(s.get(), k18.data()), 0);
  EXPECT_EQ(StoreVerify(s.get()), "");
  ASSERT_GT(Put(s.get(), 1, LongName(17), "new 17"), 0);
  EXPECT_EQ(Get(s.get(), 1, LongName(17)), "new 17");
  EXPECT_EQ(StoreVerify(s.get()), "");
  for (int i = 17; i >= 1; --i) {
    std::vector<uint8_t> k = MakeKey(1, LongName(i));
    ASSERT_EQ(StoreRemoveKey(s.get(), k.data()), 0) << i;
    ASSERT_EQ(StoreVerify(s.get()), "") << i;
  }
  EXPECT_EQ(TreeHeight(s->index->current), 1);
}

TEST(BTree, AnEmptyNodeLeftByAnOlderDeleteIsReportedAndMended) {
  TempDir dir;
  MakeCompactedLongNames(dir / "c");
  Store s(dir / "c", MODE_UPDATE);
  ASSERT_TRUE(s);
  uint8_t* base = s->index->file.base;
  int32_t d = GetI32(base + TreeRoot(s->index->current) + 16);  // K16's child
  ASSERT_EQ(Left(s->index, d), -1);
  int32_t e = GetI32(base + d + 16);  // K17's child, K18 alone
  ASSERT_EQ(Used(s->index, e), 544);
  PutI16(base + e + 8, 0);
  EXPECT_EQ(StoreVerify(s.get()), "index: node " + std::to_string(e) + " below the root is empty");
  ASSERT_GT(Put(s.get(), 1, LongName(17), "new 17"), 0);
  EXPECT_EQ(Get(s.get(), 1, LongName(17)), "new 17");
  EXPECT_EQ(StoreVerify(s.get()), "");
}

}  // namespace
