// cMf32 over a real store in a temporary folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ourlib/src/Pack.h"
#include "tests/ourlib/RecordFixture.h"
#include "tests/support/TestPaths.h"

using namespace records_test;
using testing_support::TempDir;

namespace {

std::string Tail(const char* path, size_t n) {
  std::string s = path;
  return s.size() > n ? s.substr(s.size() - n) : s;
}

TEST(Mf32Open, DataFileNameReplacesOrAppendsTheExtension) {
  TempDir dir;
  struct {
    const char* given;
    const char* data;
  } cases[] = {{"units", "units.DKD"}, {"units.dkx", "units.DKD"}, {"units.bak", "units.bak.DKD"}};
  for (const auto& c : cases) {
    cMf32* h = OpenStore(dir / c.given, MFO_UPDATE);  // creates: nothing was there
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Tail(h->DataFileName(), std::strlen(c.data)), c.data);
    EXPECT_EQ(CloseStore(h), 0);
    EXPECT_TRUE(std::filesystem::exists(dir / c.data)) << c.data;
  }
}

TEST(Mf32Open, ReadingAMissingStoreFailsAndUpdateKeepsRecords) {
  TempDir dir;
  cMf32* h = nullptr;
  EXPECT_NE(Guard([&] { h = cMf32::Open((dir / "none").c_str(), MFO_READ, 0, 0); }), 0);
  EXPECT_EQ(h, nullptr);
  // Without a frame the failure comes back as null.
  EXPECT_EQ(cMf32::Open((dir / "none").c_str(), MFO_READ, 0, 0), nullptr);

  h = OpenStore(dir / "s", MFO_CREATE);
  ASSERT_EQ(Put(h, 1, "a", Pattern(50, 1), 0), 0);
  ASSERT_EQ(CloseStore(h), 0);
  h = OpenStore(dir / "s", MFO_UPDATE);
  EXPECT_EQ(Get(h, 1, "a"), Pattern(50, 1));
  EXPECT_EQ(CloseStore(h), 0);
}

TEST(Mf32Put, PackingPolicy) {
  TempDir dir;
  cMf32* h = OpenStore(dir / "s", MFO_CREATE);
  ASSERT_NE(h, nullptr);
  int32_t stored = 0;
  // Below 32 bytes nothing is packed.
  ASSERT_EQ(Put(h, 1, "short", Repeated(31, 'x'), PACK_LZ, &stored), 0);
  EXPECT_EQ(stored, 31);
  // What packs well is packed, and read back unpacked.
  ASSERT_EQ(Put(h, 1, "lz", Repeated(4000, 'x'), PACK_LZ, &stored), 0);
  EXPECT_LT(stored, 4000);
  ASSERT_EQ(Put(h, 1, "rle", Repeated(4000, 'y'), PACK_RLE, &stored), 0);
  EXPECT_LT(stored, 4000);
  // What RLE cannot fit into its own length is stored as it is.
  ASSERT_EQ(Put(h, 1, "noise", Pattern(300, 7), PACK_RLE, &stored), 0);
  EXPECT_EQ(stored, 300);
  ASSERT_EQ(Put(h, 1, "noiselz", Pattern(300, 8), PACK_LZ, &stored), 0);
  EXPECT_EQ(stored, 300);
  // An unknown method is kept in the key, the bytes stored as they are.
  ASSERT_EQ(Put(h, 1, "odd", Repeated(64, 'z'), 7, &stored), 0);
  EXPECT_EQ(stored, 64);

  std::vector<KeyInfo> keys;
  ASSERT_EQ(Keys(h, 1, keys), 0);
  ASSERT_EQ(keys.size(), 6u);
  auto find = [&](const std::string& n) {
    for (auto& k : keys)
      if (k.name == n) return k;
    ADD_FAILURE() << n;
    return KeyInfo{};
  };
  EXPECT_EQ(find("short").pack, 0);
  EXPECT_EQ(find("lz").pack, 1);
  EXPECT_EQ(find("lz").unpacked, 4000);
  EXPECT_EQ(find("rle").pack, 2);
  EXPECT_EQ(find("noise").pack, 0);
  EXPECT_EQ(find("noiselz").pack, 0);
  EXPECT_EQ(find("odd").pack, 7);

  EXPECT_EQ(Get(h, 1, "short"), Repeated(31, 'x'));
  EXPECT_EQ(Get(h, 1, "lz"), Repeated(4000, 'x'));
  EXPECT_EQ(Get(h, 1, "rle"), Repeated(4000, 'y'));
  EXPECT_EQ(Get(h, 1, "noise"), Pattern(300, 7));
  EXPECT_EQ(Get(h, 1, "odd"), Repeated(64, 'z'));
  EXPECT_EQ(Verify(h), "");
  EXPECT_EQ(CloseStore(h), 0);
}

TEST(Mf32Put, RefusesBadArgumentsWithTheirOwnLocation) {
  TempDir dir;
  cMf32* h = OpenStore(dir / "s", MFO_CREATE);
  ASSERT_NE(h, nullptr);
  Bytes data = Pattern(40, 2);
  EXPECT_EQ(Guard([&] { h->RecPut(1, "n", nullptr, 40, nullptr, 0, nullptr); }), ERR_REC_ARGUMENT);
  EXPECT_EQ(Guard([&] { h->RecPut(1, "n", data.data(), 0, nullptr, 0, nullptr); }),
            ERR_REC_ARGUMENT);
  EXPECT_EQ(Guard([&] { h->RecPut(1, nullptr, data.data(), 40, nullptr, 0, nullptr); }),
            ERR_REC_ARGUMENT);
  EXPECT_EQ(Guard([&] { h->RecPut(1, "", data.data(), 40, nullptr, 0, nullptr); }),
            ERR_REC_ARGUMENT);
  EXPECT_EQ(Guard([&] { h->RecPutNoname(nullptr, 4); }), ERR_REC_ARGUMENT);
  EXPECT_EQ(Guard([&] { h->RecPutNoname(data.data(), 0); }), ERR_REC_ARGUMENT);
  EXPECT_STREQ(FirstErrorRecord().file, "ourlib/src/Mf32int");
  EXPECT_EQ(FirstErrorRecord().code, ERR_REC_ARGUMENT);
  // Without a frame the put returns null.
  EXPECT_EQ(h->RecPut(1, "", data.data(), 40, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(h->RecPutNoname(data.data(), 0), -1);

  // A name of 512 bytes fits the key buffer; 513 is refused.
  std::string longest(kRecNameMax, 'n');
  EXPECT_EQ(Put(h, 2, longest, data, 0), 0);
  EXPECT_EQ(Put(h, 2, longest + "x", data, 0), ERR_REC_ARGUMENT);
  std::vector<KeyInfo> keys;
  ASSERT_EQ(Keys(h, 2, keys), 0);
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].name, longest);
  EXPECT_EQ(Verify(h), "");
  EXPECT_EQ(CloseStore(h), 0);
}

TEST(Mf32Put, ReplaceFreesTheOldBlock) {
  TempDir dir;
  cMf32* h = OpenStore(dir / "s", MFO_CREATE);
  ASSERT_EQ(Put(h, 4, "big", Pattern(1000, 1), 0), 0);
  ASSERT_EQ(Put(h, 4, "after", Pattern(10, 2), 0), 0);
  ASSERT_EQ(CloseStore(h), 0);
  auto size = std::filesystem::file_size(dir / "s.DKD");

  h = OpenStore(dir / "s", MFO_UPDATE);
  ASSERT_EQ(Put(h, 4, "big", Pattern(1000, 3), 0), 0);  // takes the freed block again
  EXPECT_EQ(Get(h, 4, "big"), Pattern(1000, 3));
  std::vector<KeyInfo> keys;
  ASSERT_EQ(Keys(h, 4, keys), 0);
  EXPECT_EQ(keys.size(), 2u);
  EXPECT_EQ(Verify(h), "");
  ASSERT_EQ(CloseStore(h), 0);
  EXPECT_EQ(std::filesystem::file_size(dir / "s.DKD"), size);
  std::string data = testing_support::ReadFileBytes(dir / "s.DKD");
  Bytes old = Pattern(1000, 1);
  EXPECT_EQ(data.find(std::string(old.begin(), old.begin() + 64)), std::string::npos);
}

TEST(Mf32Get, QuietAndReportedMisses) {
  TempDir dir;
  cMf32* h = OpenStore(dir / "s", MFO_CREATE);
  ASSERT_EQ(Put(h, 1, "here", Pattern(40, 1), 0), 0);
  void* r = reinterpret_cast<void*>(1);
  EXPECT_EQ(Guard([&] { r = h->RecGet(1, "gone", nullptr, 0); }), 0);
  EXPECT_EQ(r, nullptr);
  EXPECT_EQ(FirstErrorRecord().code, ERR_REC_MISSING);  // recorded though quiet
  EXPECT_STREQ(FirstErrorRecord().file, "ourlib/src/Mf32int");
  EXPECT_EQ(Guard([&] { r = h->RecGet(1, "gone", nullptr, 1); }), ERR_REC_MISSING);
  EXPECT_EQ(Guard([&] { r = h->RecGet(2, "here", nullptr, 1); }), ERR_REC_MISSING);
  EXPECT_EQ(h->RecGet(1, "gone", nullptr, 1), nullptr);  // no frame: null
  EXPECT_EQ(CloseStore(h), 0);
}

TEST(Mf32Get, BuffersInPlaceAndMemFree) {
  TempDir dir;
  cMf32* h = OpenStore(dir / "s", MFO_CREATE);
  ASSERT_EQ(Put(h, 1, "plain", Pattern(100, 1), 0), 0);
  ASSERT_EQ(Put(h, 1, "packed", Repeated(500, 'q'), PACK_LZ), 0);
  ASSERT_EQ(CloseStore(h), 0);

  h = OpenStore(dir / "s", MFO_READ);
  ASSERT_NE(h, nullptr);
  void* inPlace = nullptr;
  ASSERT_EQ(Guard([&] { inPlace = h->RecGet(1, "plain", nullptr, 1); }), 0);
  EXPECT_TRUE(StoreOwnsPointer(h->Engine(), inPlace));
  ASSERT_EQ(Guard([&] { h->RecMemFree(&inPlace); }), 0);  // forgets, frees nothing
  EXPECT_EQ(inPlace, nullptr);
  EXPECT_EQ(Get(h, 1, "plain"), Pattern(100, 1));

  void* unpacked = nullptr;
  ASSERT_EQ(Guard([&] { unpacked = h->RecGet(1, "packed", nullptr, 1); }), 0);
  EXPECT_FALSE(StoreOwnsPointer(h->Engine(), unpacked));
  ASSERT_EQ(Guard([&] { h->RecMemFree(&unpacked); }), 0);  // frees (ASan sees a leak otherwise)

  // A caller buffer holding null receives a new buffer.
  void* given = nullptr;
  void* got = nullptr;
  ASSERT_EQ(Guard([&] { got = h->RecGet(1, "plain", &given, 1); }), 0);
  EXPECT_EQ(got, given);
  EXPECT_EQ(Bytes(static_cast<uint8_t*>(got), static_cast<uint8_t*>(got) + 100), Pattern(100, 1));
  Guard([&] { h->RecMemFree(&given); });
  EXPECT_EQ(CloseStore(h), 0);

  // Unmapped: everything comes in buffers; there are no addresses.
  h = OpenStore(dir / "s", MFO_READ_UNMAPPED);
  ASSERT_NE(h, nullptr);
  EXPECT_FALSE(h->Mapped());
  EXPECT_EQ(Get(h, 1, "plain"), Pattern(100, 1));
  EXPECT_EQ(Get(h, 1, "packed"), Repeated(500, 'q'));
  EXPECT_EQ(h->RecPtr(36), nullptr);
  EXPECT_EQ(CloseStore(h), 0);
}

TEST(Mf32Get, AnUnpackedLengthThatDiffersFromTheKeyIsAnError) {
  TempDir dir;
  cMf32* h = OpenStore(dir / "s", MFO_CREATE);
  Bytes plain = Repeated(200, 'r');
  Bytes packed = Packed(RlePack, plain, 200);
  ASSERT_FALSE(packed.empty());
  const int32_t n = static_cast<int32_t>(packed.size());
  ASSERT_EQ(PutRaw(h, MakeKey(1, "liar", n, PACK_RLE, 199), packed), 0);
  ASSERT_EQ(PutRaw(h, MakeKey(1, "true", n, PACK_RLE, 200), packed), 0);
  EXPECT_EQ(Get(h, 1, "true"), plain);
  int code = 0;
  Get(h, 1, "liar", &code);
  EXPECT_EQ(code, ERR_REC_LENGTH);
  // A stored length reaching past its block is refused, not read.
  ASSERT_EQ(PutRaw(h, MakeKey(1, "long", 5000, 0, 5000), Pattern(40, 1)), 0);
  Get(h, 1, "long", &code);
  EXPECT_NE(code, 0);
  EXPECT_EQ(CloseStore(h), 0);
}

TEST(Mf32Iterate, SectionKeysInNameLengthOrderWithoutUnnamedRecords) {
  TempDir dir;
  cMf32* h = OpenStore(dir / "s", MFO_CREATE);
  for (const char* name : {"BB", "CCC", "A", "AA", "b"})
    ASSERT_EQ(Put(h, 5, name, Pattern(40, 1), 0), 0);
  ASSERT_EQ(Put(h, 4, "four", Pattern(40, 2), 0), 0);
  ASSERT_EQ(Put(h, 6, "six", Pattern(40, 3), 0), 0);
  int32_t offset = -1;
  Bytes surface = Pattern(60, 4);
  ASSERT_EQ(Guard([&] { offset = h->RecPutNoname(surface.data(), 60); }), 0);
  EXPECT_GT(offset, 0);
  EXPECT_EQ(Bytes(h->RecPtr(offset), h->RecPtr(offset) + 60), surface);
  EXPECT_EQ(h->RecPtr(-8), nullptr);
  EXPECT_EQ(h->RecPtr(0x7FFFFFF0), nullptr);

  std::vector<KeyInfo> keys;
  ASSERT_EQ(Keys(h, 5, keys), 0);
  std::vector<std::string> names;
  for (auto& k : keys) names.push_back(k.name);
  EXPECT_EQ(names, (std::vector<std::string>{"A", "b", "AA", "BB", "CCC"}));
  ASSERT_EQ(Keys(h, -1, keys), 0);
  EXPECT_EQ(keys.size(), 7u);
  EXPECT_EQ(keys.front().section, 4);
  EXPECT_EQ(keys.back().section, 6);
  // Each key stands alone in the handle's buffer: zeros after its name, also
  // where a longer key stood before it ("four" before "A").
  ASSERT_EQ(Guard([&] { h->ToBeg(nullptr, nullptr); }), 0);
  while (const uint8_t* k = h->RecKeyGetNext(nullptr)) {
    for (int i = kRecKeyHeader + RecKeyNameLength(k); i < kRecKeyBuffer; ++i) ASSERT_EQ(k[i], 0);
  }
  // The end stays the end.
  EXPECT_EQ(h->RecKeyGetNext(nullptr), nullptr);
  EXPECT_EQ(CloseStore(h), 0);
}

TEST(Mf32Iterate, AKeyLongerThanTheBufferFailsInsteadOfOverrunning) {
  TempDir dir;
  cMf32* h = OpenStore(dir / "s", MFO_CREATE);
  ASSERT_EQ(Put(h, 1, "ok", Pattern(40, 1), 0), 0);
  std::string name(600, 'L');
  ASSERT_EQ(PutRaw(h, MakeKey(1, name, 40, 0, 40), Pattern(40, 2)), 0);
  std::vector<KeyInfo> keys;
  int code = Keys(h, 1, keys);
  EXPECT_NE(code, 0);
  EXPECT_EQ(keys.size(), 1u);  // the short one came first
  // The caller's buffer is bounded the same way.
  uint8_t buffer[kRecKeyBuffer + 64];
  std::memset(buffer, 0x5A, sizeof buffer);
  Guard([&] { h->ToBeg(nullptr, nullptr); });
  EXPECT_EQ(Guard([&] { h->RecKeyGetNext(buffer); }), 0);
  EXPECT_NE(Guard([&] { h->RecKeyGetNext(buffer); }), 0);
  for (size_t i = kRecKeyBuffer; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], 0x5A);
  EXPECT_EQ(CloseStore(h), 0);
}

TEST(Mf32Delete, CompactOnCloseKeepsEveryRecord) {
  TempDir dir;
  cMf32* h = OpenStore(dir / "s.dkx", MFO_CREATE);
  for (int i = 0; i < 400; ++i)
    ASSERT_EQ(Put(h, i % 7, "rec" + std::to_string(i), Pattern(40, i), 0), 0);
  ASSERT_EQ(CloseStore(h), 0);
  h = nullptr;
  ASSERT_EQ(Guard([&] { h = cMf32::Open((dir / "s.dkx").c_str(), MFO_UPDATE, 1, 0); }), 0);
  ASSERT_EQ(CloseStore(h), 0);
  h = OpenStore(dir / "s.dkx", MFO_READ);
  ASSERT_NE(h, nullptr);
  std::vector<KeyInfo> keys;
  ASSERT_EQ(Keys(h, -1, keys), 0);
  EXPECT_EQ(keys.size(), 400u);
  EXPECT_EQ(Get(h, 3, "rec3"), Pattern(40, 3));
  EXPECT_EQ(Verify(h), "");
  EXPECT_EQ(CloseStore(h), 0);
  EXPECT_FALSE(std::filesystem::exists(dir / "s.$$X"));
}

}  // namespace
