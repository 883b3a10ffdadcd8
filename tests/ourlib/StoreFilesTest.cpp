// Store files: names, headers, open modes, sharing, read-only stores, the
// tree-list repair and compaction.
#include <gtest/gtest.h>

#include <map>

#include "ourlib/src/ByteCodec.h"
#include "platform/testing/FaultEnv.h"
#include "tests/ourlib/EngineTestKit.h"
#include "tests/support/TestPaths.h"

using namespace enginetest;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

std::string Name(const char* path, const char* ext) {
  char out[260];
  EXPECT_TRUE(StoreFileName(path, ext, out, sizeof out));
  return out;
}

void Patch(const std::string& file, size_t at, const std::string& bytes) {
  std::string all = ReadFileBytes(file);
  all.replace(at, bytes.size(), bytes);
  WriteFileBytes(file, all);
}

TEST(StoreFiles, NameRuleReplacesOnlyStoreExtensions) {
  EXPECT_EQ(Name("data\\units", ".DKX"), "data\\units.DKX");
  EXPECT_EQ(Name("data\\units.dkx", ".DKD"), "data\\units.DKD");
  EXPECT_EQ(Name("data\\units.DkD", ".DKX"), "data\\units.DKX");
  EXPECT_EQ(Name("units.res", ".DKX"), "units.res.DKX");
  EXPECT_EQ(Name("a.dkx\\units", ".DKX"), "a.dkx\\units.DKX");  // a dot in a folder is no extension
  EXPECT_EQ(Name("UNITS.DKX", ".$$X"), "UNITS.$$X");
  EXPECT_EQ(Name("data\\units.dkx", ""), "data\\units");
  EXPECT_EQ(Name("units.res", ""), "units.res");
  char small[12];
  EXPECT_FALSE(StoreFileName("units.res", ".DKX", small, sizeof small));
}

TEST(StoreFiles, NewStoreClosedAtOnceHasItsExactBytes) {
  TempDir dir;
  {
    Store s(dir / "units", MODE_CREATE);
    ASSERT_TRUE(s);
  }
  std::string x = ReadFileBytes(dir / "units.DKX"), d = ReadFileBytes(dir / "units.DKD");
  ASSERT_EQ(x.size(), 2112u);
  ASSERT_EQ(d.size(), 40u);
  const uint8_t* b = reinterpret_cast<const uint8_t*>(x.data());
  EXPECT_EQ(x.substr(0, 4), "DKBT");
  EXPECT_EQ(GetI16(b + 4), 0x0101);
  EXPECT_EQ(GetI16(b + 6), 2048);
  EXPECT_EQ(GetI32(b + 8), 2112);
  EXPECT_EQ(GetI32(b + 12), -1);
  EXPECT_EQ(GetI16(b + 16), 1);
  EXPECT_EQ(GetI32(b + 18), 32);
  EXPECT_EQ(x.substr(22, 10), std::string(10, '\0'));
  // Descriptor: no next, root at 64, tree 0, height 1, no duplicates, type 255, name.
  EXPECT_EQ(GetI32(b + 32), -1);
  EXPECT_EQ(GetI32(b + 36), 64);
  EXPECT_EQ(GetI16(b + 40), 0);
  EXPECT_EQ(GetI16(b + 42), 1);
  EXPECT_EQ(GetI16(b + 46), 0);
  EXPECT_EQ(GetI32(b + 48), 255);
  EXPECT_EQ(x.substr(54, 10), std::string("00000000\0\0", 10));
  // Root: own offset -1, no leftmost child, empty.
  EXPECT_EQ(GetI32(b + 64), -1);
  EXPECT_EQ(GetI32(b + 68), -1);
  EXPECT_EQ(x.substr(72, 2048 - 8), std::string(2040, '\0'));
  std::string heap("DKFM\x01\x01\0\0\x28\0\0\0\x20\0\0\0", 16);
  heap += std::string(16, '\0') + std::string("\xE0\xFF\xFF\x3F\0\0\0\0", 8);
  EXPECT_EQ(d, heap);
}

TEST(StoreFiles, VersionAndMagicChecks) {
  TempDir dir;
  {
    Store s(dir / "s", MODE_CREATE);
    ASSERT_TRUE(s);
  }
  std::string dkx = dir / "s.DKX", dkd = dir / "s.DKD";
  const std::string good = ReadFileBytes(dkx);
  Patch(dkx, 4, std::string("\x02\x01", 2));  // minor 2: accepted
  {
    Store s(dir / "s", MODE_READ);
    EXPECT_TRUE(s) << s.code();
  }
  {
    Store s(dir / "s", MODE_UPDATE);
    EXPECT_TRUE(s) << s.code();
  }
  Patch(dkx, 4, std::string("\x01\x02", 2));  // major 2
  {
    Store s(dir / "s", MODE_READ);
    EXPECT_EQ(s.code(), -53);
  }
  WriteFileBytes(dkx, good);
  Patch(dkx, 0, "DKBX");
  {
    Store s(dir / "s", MODE_READ);
    EXPECT_EQ(s.code(), -5);
  }
  WriteFileBytes(dkx, good.substr(0, 31));
  {
    Store s(dir / "s", MODE_READ);
    EXPECT_EQ(s.code(), -5);
  }
  WriteFileBytes(dkx, good);
  const std::string heap = ReadFileBytes(dkd);
  Patch(dkd, 4, std::string("\x02\x01\0\0", 4));
  {
    Store s(dir / "s", MODE_READ);
    EXPECT_EQ(s.code(), -5);
  }
  {
    Store s(dir / "s", MODE_UPDATE);
    EXPECT_EQ(s.code(), -5);
  }
  EXPECT_EQ(ReadFileBytes(dkd).size(), 40u) << "a refused data file keeps its size";
  WriteFileBytes(dkd, heap);
  Patch(dkd, 0, "DKFX");
  {
    Store s(dir / "s", MODE_READ);
    EXPECT_EQ(s.code(), -5);
  }
}

TEST(StoreFiles, UpdateWithoutDataFileFailsAndCreatesNone) {
  TempDir dir;
  {
    Store s(dir / "s", MODE_CREATE);
    ASSERT_TRUE(s);
  }
  plat::Env::Default()->Delete((dir / "s.DKD").c_str());
  EXPECT_FALSE(StoreExists((dir / "s").c_str()));
  {
    Store s(dir / "s.dkx", MODE_UPDATE);
    EXPECT_EQ(s.code(), -5);
  }
  EXPECT_FALSE(plat::Env::Default()->Exists((dir / "s.DKD").c_str()));
  EXPECT_EQ(ReadFileBytes(dir / "s.DKX").size(), 2112u);
}

TEST(StoreFiles, ExistsAndIsIndexFile) {
  TempDir dir;
  EXPECT_FALSE(StoreExists((dir / "s").c_str()));
  {
    Store s(dir / "s", MODE_CREATE);
    ASSERT_TRUE(s);
  }
  EXPECT_TRUE(StoreExists((dir / "s").c_str()));
  EXPECT_TRUE(StoreExists((dir / "s.DKD").c_str()));
  EXPECT_TRUE(IsIndexFile((dir / "s.DKX").c_str()));
  EXPECT_FALSE(IsIndexFile((dir / "s.DKD").c_str()));
  EXPECT_FALSE(IsIndexFile((dir / "none.DKX").c_str()));
}

TEST(StoreFiles, SharingRules) {
  TempDir dir;
  {
    Store s(dir / "s", MODE_CREATE);
    ASSERT_TRUE(s);
  }
  {
    Store a(dir / "s", MODE_READ), b(dir / "s", MODE_READ);
    EXPECT_TRUE(a);
    EXPECT_TRUE(b) << "readers share a store";
  }
  {
    Store w(dir / "s", MODE_UPDATE);
    ASSERT_TRUE(w);
    Store r(dir / "s", MODE_READ);
    EXPECT_FALSE(r);
    EXPECT_GT(r.code(), 0) << "the system's sharing code";
    EXPECT_FALSE(IsIndexFile((dir / "s.DKX").c_str()));
  }
  EXPECT_TRUE(IsIndexFile((dir / "s.DKX").c_str()));
}

TEST(StoreFiles, WritingThroughReadOnlyStoreChangesNothing) {
  TempDir dir;
  {
    Store s(dir / "s", MODE_CREATE);
    for (int i = 0; i < 50; ++i) Put(s.get(), 1, "n" + std::to_string(i), std::string(20 + i, 'a'));
  }
  const std::string x = ReadFileBytes(dir / "s.DKX"), d = ReadFileBytes(dir / "s.DKD");
  {
    Store s(dir / "s", MODE_READ);
    ASSERT_TRUE(s);
    std::vector<uint8_t> k = MakeKey(1, "new");
    Guard([&] { StorePutRecord(s.get(), k.data(), "abcdef", 6); });
    std::vector<uint8_t> old = MakeKey(1, "n7");
    Guard([&] { StoreRemoveKey(s.get(), old.data()); });
    EXPECT_EQ(Get(s.get(), 1, "n7"), std::string(27, 'a'));
    EXPECT_EQ(StoreVerify(s.get()), "");
  }
  EXPECT_EQ(ReadFileBytes(dir / "s.DKX"), x);
  EXPECT_EQ(ReadFileBytes(dir / "s.DKD"), d);
}

TEST(StoreFiles, UnmappedReadGetsRecordsByFileReads) {
  TempDir dir;
  int32_t off;
  {
    Store s(dir / "s", MODE_CREATE);
    off = Put(s.get(), 3, "rec", "0123456789");
  }
  Store s(dir / "s", MODE_READ, MF_UNMAPPED);
  ASSERT_TRUE(s);
  EXPECT_EQ(StoreRecordPointer(s.get(), off), nullptr);
  EXPECT_EQ(Get(s.get(), 3, "rec"), "0123456789");
  EXPECT_EQ(MapWrite(&s->heap->file, 40, "x", 1), -48);
  EXPECT_FALSE(StoreOwnsPointer(s.get(), &off));
}

TEST(StoreFiles, LostTreeListIsRepairedWithAnEmptyTree) {
  TempDir dir;
  {
    Store s(dir / "s", MODE_CREATE);
    Put(s.get(), 1, "a", "xyz");
  }
  std::string dkx = dir / "s.DKX";
  std::string minus1("\xFF\xFF\xFF\xFF", 4), at32("\x20\0\0\0", 4);
  Patch(dkx, 18, minus1);
  Patch(dkx, 22, at32);
  {
    Store r(dir / "s", MODE_READ);
    EXPECT_EQ(r.code(), -5) << "a read-only open cannot repair";
  }
  {
    Store s(dir / "s", MODE_UPDATE);
    ASSERT_TRUE(s) << s.code();
    EXPECT_EQ(Get(s.get(), 1, "a"), "<missing>");
    Put(s.get(), 1, "b", "new");
    EXPECT_EQ(Get(s.get(), 1, "b"), "new");
  }
  std::string x = ReadFileBytes(dkx);
  const uint8_t* b = reinterpret_cast<const uint8_t*>(x.data());
  EXPECT_EQ(GetI32(b + 18), 32);
  EXPECT_EQ(GetI32(b + 22), -1) << "what remained of the second list";
  EXPECT_EQ(GetI32(b + 32), -1);
  EXPECT_NE(GetI32(b + 36), 64) << "a new root";
  Store s(dir / "s", MODE_READ);
  EXPECT_EQ(Get(s.get(), 1, "b"), "new");
  EXPECT_EQ(StoreVerify(s.get()), "");
}

std::map<std::string, std::pair<int32_t, std::string>> AllRecords(StoreEngine* e) {
  std::map<std::string, std::pair<int32_t, std::string>> all;
  IndexFirst(e->index, nullptr, nullptr);
  uint8_t key[600];
  KeyOut out;
  out.buffer = key;
  out.capacity = sizeof key;
  for (int32_t off; (off = StoreNextRecord(e, &out)) >= 0;) {
    all[KeyName(key)] = {off, Get(e, key[0], KeyName(key))};
  }
  return all;
}

TEST(StoreFiles, CompactionKeepsKeysAndValuesAndLeavesNoTemporaryFile) {
  TempDir dir;
  std::map<std::string, std::pair<int32_t, std::string>> before;
  {
    Store s(dir / "units", MODE_CREATE);
    for (int i = 0; i < 1500; ++i)
      Put(s.get(), 2, "unit" + std::to_string(i * 7919 % 1500),
          std::string(i % 50 + 1, 'a' + i % 26));
    for (int i = 0; i < 1500; i += 3) {
      std::vector<uint8_t> k = MakeKey(2, "unit" + std::to_string(i));
      EXPECT_EQ(StoreRemoveKey(s.get(), k.data()), 0);
    }
    before = AllRecords(s.get());
  }
  ASSERT_EQ(before.size(), 1000u);
  std::string data = ReadFileBytes(dir / "units.DKD");
  std::string path = dir / "units.dkx";
  ASSERT_EQ(StoreCompact(&path[0], RecConfig()), 0);
  EXPECT_FALSE(plat::Env::Default()->Exists((dir / "UNITS.$$X").c_str()));
  EXPECT_EQ(ReadFileBytes(dir / "units.DKD"), data) << "the data file is not touched";
  Store s(dir / "units", MODE_UPDATE);
  ASSERT_TRUE(s);
  EXPECT_EQ(StoreVerify(s.get()), "");
  EXPECT_EQ(AllRecords(s.get()), before);
}

TEST(StoreFiles, FailedCompactionLeavesOldIndexAndNoTemporaryFile) {
  TempDir dir;
  {
    Store s(dir / "s", MODE_CREATE);
    for (int i = 0; i < 300; ++i) Put(s.get(), 1, std::to_string(i), "v");
  }
  const std::string x = ReadFileBytes(dir / "s.DKX");
  plat::FaultEnv env(plat::BackendEnv());
  plat::SetDefaultEnv(&env);
  env.FailNth(plat::FaultKind::Map, 2, 8);  // the first map is the old index, the second the new
  std::string path = dir / "s";
  int rc = Guard([&] { StoreCompact(&path[0], RecConfig()); });
  plat::SetDefaultEnv(nullptr);
  EXPECT_EQ(rc, 8);
  EXPECT_FALSE(plat::Env::Default()->Exists((dir / "S.$$X").c_str()));
  EXPECT_EQ(ReadFileBytes(dir / "s.DKX"), x);
  std::string missing = dir / "none";
  EXPECT_EQ(StoreCompact(&missing[0], RecConfig()), -10);
}

TEST(StoreFiles, FailedNodeReservationReportsSystemCodeAsNegative) {
  TempDir dir;
  plat::FaultEnv env(plat::BackendEnv());
  plat::SetDefaultEnv(&env);
  int rc;
  {
    Store s(dir / "s", MODE_CREATE);
    ASSERT_TRUE(s);
    // Bulk loading far past the first view makes the index grow; that growth fails.
    Store big(dir / "big", MODE_CREATE);
    for (int i = 0; i < 9000; ++i) {
      std::vector<uint8_t> k = MakeKey(1, std::string(120, 'k') + std::to_string(100000 + i));
      IndexInsert(big->index, k.data(), 36);
    }
    env.FailNth(plat::FaultKind::Grow, 1, 8);
    rc = Guard([&] { IndexBulkCopy(s->index, big->index); });
  }
  plat::SetDefaultEnv(nullptr);
  EXPECT_EQ(rc, static_cast<int>(0xFFFF0008u));
}

// A large view grows by a quarter of its size; where that cannot be had (a
// nearly full disk) it grows by its step, as a small one does.
TEST(StoreFiles, ALargeViewGrowsByAQuarterOrElseByItsStep) {
  TempDir dir;
  plat::FaultEnv env(plat::BackendEnv());
  plat::SetDefaultEnv(&env);
  const uint32_t size = 8 << 20, step = 1 << 20;
  uint8_t byte = 7;
  MappedFile a, b;
  int rc = Guard([&] {
    MapCreate(&a, (dir / "a").c_str(), size, step);
    MapWrite(&a, size, &byte, 1);
    MapCreate(&b, (dir / "b").c_str(), size, step);
    env.FailNth(plat::FaultKind::Grow, 1, plat::kErrDiskFull);
    MapWrite(&b, size, &byte, 1);
  });
  int grows = env.Calls(plat::FaultKind::Grow);
  plat::SetDefaultEnv(nullptr);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(a.mappedSize, size + size / 4);
  EXPECT_EQ(b.mappedSize, size + step);
  EXPECT_EQ(grows, 2);
  MapClose(&a, 0);
  MapClose(&b, 0);
  EXPECT_EQ(ReadFileBytes(dir / "b").size(), size + 1u);
}

}  // namespace
