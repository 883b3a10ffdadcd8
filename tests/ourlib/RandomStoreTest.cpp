// Long mixed sequences of puts, replacements, removals, lookups and
// iterations against a std::map model, with the checker after every batch;
// and the same on trees made by the bulk loader (compacted stores), whose
// internal nodes have no leftmost child, compacted again along the way.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <utility>

#include "tests/ourlib/EngineTestKit.h"
#include "tests/support/TestPaths.h"

using namespace enginetest;
using testing_support::TempDir;

namespace {

using Model = std::map<std::pair<uint8_t, std::string>, std::string>;

// Names of 0 to several hundred bytes, mostly short, all byte values; with
// full set, the long ones are maxLong bytes.
std::string RandomName(std::mt19937& rng, size_t maxLong, bool full = false) {
  std::uniform_int_distribution<int> pick(0, 9);
  size_t len = pick(rng) < 7 ? rng() % 12 : (full ? maxLong : rng() % maxLong);
  std::string s(len, '\0');
  for (char& c : s) c = static_cast<char>("abcAB\x01\xff"[rng() % 7]);
  return s;
}

// The whole store in key order must equal the model.
void ExpectSameAsModel(StoreEngine* e, const Model& model) {
  IndexFirst(e->index, nullptr, nullptr);
  uint8_t key[600];
  KeyOut ko;
  ko.buffer = key;
  ko.capacity = sizeof key;
  auto it = model.begin();
  int32_t off;
  while ((off = StoreNextRecord(e, &ko)) > 0) {
    ASSERT_NE(it, model.end()) << "a key the model does not have";
    // Model order (std::string) differs from the store's (length first): compare as sets.
    (void)off;
    ++it;
  }
  ASSERT_EQ(off, -4);
  ASSERT_EQ(it, model.end()) << "keys missing from the store";
  for (const auto& kv : model) {
    ASSERT_EQ(Get(e, kv.first.first, kv.first.second), kv.second)
        << "section " << int(kv.first.first);
  }
}

void RunMixed(StoreEngine* e, Model& model, std::mt19937& rng, int batches, int perBatch,
              std::vector<std::pair<uint8_t, std::string>>& known, bool fullNames) {
  for (int b = 0; b < batches; ++b) {
    for (int i = 0; i < perBatch; ++i) {
      int op = static_cast<int>(rng() % 10);
      bool old = !known.empty() && rng() % 3 != 0;
      auto key = old ? known[rng() % known.size()]
                     : std::make_pair(static_cast<uint8_t>(rng() % 4),
                                      RandomName(rng, fullNames ? 512 : 300, fullNames));
      if (!old) known.push_back(key);
      if (op < 5) {
        std::string data(1 + rng() % 64, static_cast<char>('a' + rng() % 26));
        ASSERT_GT(Put(e, key.first, key.second, data), 0);
        model[key] = data;
      } else if (op < 8) {
        std::vector<uint8_t> k = MakeKey(key.first, key.second);
        int rc = StoreRemoveKey(e, k.data());
        ASSERT_EQ(rc, model.erase(key) ? 0 : -4);
      } else {
        auto it = model.find(key);
        ASSERT_EQ(Get(e, key.first, key.second), it == model.end() ? "<missing>" : it->second);
      }
    }
    ASSERT_EQ(StoreVerify(e), "") << "batch " << b;
    if (b % 10 == 9) ExpectSameAsModel(e, model);
  }
}

TEST(Randomized, MixedOperationsAgreeWithTheModel) {
  TempDir dir;
  std::mt19937 rng(20260208);
  Model model;
  std::vector<std::pair<uint8_t, std::string>> known;
  for (int round = 0; round < 3; ++round) {
    if (round > 0) {
      std::string path = dir / "r";
      ASSERT_EQ(StoreCompact(&path[0], RecConfig()), 0);
    }
    Store s(dir / "r", round == 0 ? MODE_CREATE : MODE_UPDATE);
    ASSERT_TRUE(s) << s.code();
    ASSERT_EQ(StoreVerify(s.get()), "");
    ExpectSameAsModel(s.get(), model);
    RunMixed(s.get(), model, rng, 30, 400, known, round > 0);
    if (HasFatalFailure()) return;
  }
}

// Trees of several heights built by the bulk loader, then shrunk and
// changed at every level in random order, compacted again `compactions`
// times on the way.
void BulkThenChange(size_t keys, size_t maxLong, uint32_t seed, bool full = false,
                    int compactions = 0) {
  TempDir dir;
  std::string path = dir / "b";
  std::mt19937 rng(seed);
  Model model;
  std::vector<std::pair<uint8_t, std::string>> known;
  {
    Store s(path, MODE_CREATE);
    while (model.size() < keys) {
      auto key = std::make_pair(static_cast<uint8_t>(rng() % 3), RandomName(rng, maxLong, full));
      std::string data(1 + rng() % 16, 'x');
      Put(s.get(), key.first, key.second, data);
      if (!model.count(key)) known.push_back(key);
      model[key] = data;
    }
  }
  std::unique_ptr<Store> s;
  auto compact = [&] {
    s.reset();
    ASSERT_EQ(StoreCompact(&path[0], RecConfig()), 0);
    s = std::make_unique<Store>(path, MODE_UPDATE);
    ASSERT_TRUE(*s);
    ASSERT_EQ(StoreVerify(s->get()), "");
    ExpectSameAsModel(s->get(), model);
  };
  compact();
  if (testing::Test::HasFatalFailure()) return;
  ASSERT_GE(TreeHeight((*s)->index->current), 2);
  std::shuffle(known.begin(), known.end(), rng);
  size_t batch = keys / 40 + 1, every = known.size() / (compactions + 1) + 1;
  for (size_t i = 0; i < known.size(); ++i) {
    const auto& key = known[i];
    std::vector<uint8_t> k = MakeKey(key.first, key.second);
    if (i % 3 == 0) {  // replace: the record interface deletes, then inserts
      std::string data(1 + rng() % 16, 'y');
      ASSERT_GT(Put(s->get(), key.first, key.second, data), 0);
      model[key] = data;
    } else {
      ASSERT_EQ(StoreRemoveKey(s->get(), k.data()), 0) << "key " << i << " was lost";
      model.erase(key);
    }
    if (i % batch == batch - 1) {
      ASSERT_EQ(StoreVerify(s->get()), "") << "after " << i;
      ExpectSameAsModel(s->get(), model);
    }
    if (i % every == every - 1) compact();
    if (testing::Test::HasFatalFailure()) return;
  }
  ASSERT_EQ(StoreVerify(s->get()), "");
  ExpectSameAsModel(s->get(), model);
}

TEST(BulkLoadedDelete, ShortNamesTwoLevels) { BulkThenChange(600, 20, 1); }
TEST(BulkLoadedDelete, MixedNamesThreeLevels) { BulkThenChange(4000, 200, 2); }
TEST(BulkLoadedDelete, LongNamesDeepTree) { BulkThenChange(3000, 480, 3); }
// Names of the longest length fill a node with three entries; the right edge
// of every compaction is made of them.
TEST(BulkLoadedDelete, FullLengthNamesCompactedAgainAndAgain) {
  BulkThenChange(900, 512, 4, true, 5);
}

}  // namespace

namespace {

// The record put's way (StoreReplaceRecord, one search where it can, the
// record key's length and order worked out inline) against the plain one
// it stands for (StoreRemoveKey, then StorePutRecord, the key's functions
// called through the configuration): the same files byte for byte, the same
// lookups and the same iteration, over random puts, replacements and
// removals, with compactions between the rounds, and last every key replaced
// in key order, as a record update does.
TEST(SameBytes, OneSearchPutAndInlineKeysAgainstRemoveThenPut) {
  TempDir dir;
  const std::string fast = dir / "FAST", plain = dir / "PLAIN";  // as compaction names them
  std::mt19937 rng(20261209);
  using Key = std::pair<uint8_t, std::string>;
  std::vector<Key> known;
  for (int round = 0; round < 5; ++round) {
    if (round == 2) {
      for (std::string path : {fast, plain}) ASSERT_EQ(StoreCompact(&path[0], RecConfig()), 0);
    }
    int mode = round == 0 ? MODE_CREATE : MODE_UPDATE;
    Store a(fast, mode, 0, RecKeyConfig()), b(plain, mode);
    ASSERT_TRUE(a && b);
    ASSERT_TRUE(a->index->current->recordKeys && !b->index->current->recordKeys);
    auto put = [&](const Key& key) {
      std::string data(1 + rng() % 200, static_cast<char>('a' + rng() % 26));
      std::vector<uint8_t> k = MakeKey(key.first, key.second);
      RecKeySetRecord(k.data(), static_cast<int32_t>(data.size()), 0, 0, nullptr);
      int32_t at = StoreReplaceRecord(a.get(), k.data(), data.data(), data.size());
      ASSERT_EQ(at, Put(b.get(), key.first, key.second, data));
      ASSERT_EQ(Get(a.get(), key.first, key.second), data);
    };
    if (round == 4) {
      std::vector<Key> order = known;
      std::sort(order.begin(), order.end(), [](const Key& x, const Key& y) {
        return std::make_tuple(x.first, x.second.size(), x.second) <
               std::make_tuple(y.first, y.second.size(), y.second);
      });
      order.erase(std::unique(order.begin(), order.end()), order.end());
      for (const Key& key : order) ASSERT_NO_FATAL_FAILURE(put(key));
    }
    for (int i = 0; i < (round < 4 ? 2500 : 0); ++i) {
      bool old = !known.empty() && rng() % 2 == 0;
      Key key = old ? known[rng() % known.size()]
                    : std::make_pair(static_cast<uint8_t>(rng() % 4), RandomName(rng, 300));
      if (!old) known.push_back(key);
      if (rng() % 5 == 0) {
        std::vector<uint8_t> k = MakeKey(key.first, key.second), k2 = k;
        ASSERT_EQ(StoreRemoveKey(a.get(), k.data()), StoreRemoveKey(b.get(), k2.data()));
        continue;
      }
      ASSERT_NO_FATAL_FAILURE(put(key)) << "step " << i;
    }
    ASSERT_EQ(StoreVerify(a.get()), "");
    // Both iterate alike (the inline walk against the configured one).
    uint8_t ka[600], kb[600];
    KeyOut oa, ob;
    oa.buffer = ka;
    ob.buffer = kb;
    oa.capacity = ob.capacity = sizeof ka;
    IndexFirst(a->index, nullptr, nullptr);
    IndexFirst(b->index, nullptr, nullptr);
    for (int32_t va = 0, vb = 0; va >= 0 || vb >= 0;) {
      va = StoreNextRecord(a.get(), &oa);
      vb = StoreNextRecord(b.get(), &ob);
      ASSERT_EQ(va, vb);
      if (va >= 0) {
        ASSERT_EQ(std::string(ka, ka + oa.length), std::string(kb, kb + ob.length));
      }
    }
    a.Close();
    b.Close();
    for (const char* ext : {".DKX", ".DKD"}) {
      ASSERT_EQ(testing_support::ReadFileBytes(fast + ext),
                testing_support::ReadFileBytes(plain + ext))
          << ext << " after round " << round;
    }
  }
}

}  // namespace
