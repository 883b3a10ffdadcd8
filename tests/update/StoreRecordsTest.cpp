// Operation 1 through a recording sink: what it writes, counts, logs and shows.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "ourlib/src/Pack.h"
#include "ourlib/src/SectionNames.h"
#include "ourlib/src/StoreChange.h"
#include "platform/testing/FaultEnv.h"
#include "tests/ourlib/RecordFixture.h"
#include "tests/support/RecordingEnv.h"
#include "tests/support/RecordingSink.h"
#include "tests/support/TestPaths.h"
#include "update/Operations.h"
#include "update/StoreRecordsInPlace.h"

using namespace records_test;
using testing_support::RecordingSink;
using testing_support::TempDir;

namespace {

// A DIB of width x height at 8 bits with a 4-colour table: 40 + 16 + rows.
Bytes Surface(int32_t width, int32_t height, uint8_t fill) {
  int32_t row = (8 * width + 31) / 32 * 4;
  Bytes b = DibHeader(width, height, 8, 0, 0, 4);
  b.resize(40 + 16 + static_cast<size_t>(row) * (height < 0 ? -height : height), fill);
  return b;
}

// Puts the surfaces unnamed, then a font table (count, offsets, tail).
void PutFont(cMf32* h, const std::string& name, const std::vector<Bytes>& surfaces, int16_t count,
             const Bytes& tail = {}) {
  Bytes table(2 + 4 * surfaces.size());
  PutI16(&table[0], count);
  for (size_t i = 0; i < surfaces.size(); ++i) {
    const Bytes& s = surfaces[i];
    int32_t offset = -1;
    ASSERT_EQ(Guard([&] { offset = h->RecPutNoname(s.data(), static_cast<int32_t>(s.size())); }),
              0);
    PutI32(&table[2 + 4 * i], offset);
  }
  table.insert(table.end(), tail.begin(), tail.end());
  ASSERT_EQ(Put(h, 3, name, table, 0), 0);
}

int32_t Offset(const Bytes& table, int i) { return GetI32(&table[2 + 4 * static_cast<size_t>(i)]); }

class CopyStoreRecordsTest : public ::testing::Test {
 protected:
  std::string Src() { return dir / "SHIP.DKX"; }
  std::string Dst() { return dir / "UNITS.DKX"; }
  cMf32* Create(const std::string& path) { return OpenStore(path, MFO_CREATE); }
  int Run() { return CopyStoreRecords(ui, Src().c_str(), Dst().c_str()); }
  // Run, which must succeed without a message, log exactly `log` and count
  // `units` units (call under ASSERT_NO_FATAL_FAILURE).
  void RunLogging(const std::vector<std::string>& log, int units) {
    ASSERT_EQ(Run(), 0);
    EXPECT_TRUE(ui.errors.empty());
    EXPECT_EQ(ui.log, log);
    EXPECT_EQ(ui.counters.units, units);
  }
  // Run into an empty game's store, which must fail with message 5 naming
  // the source (call under ASSERT_NO_FATAL_FAILURE).
  void RunIntoAnEmptyStoreFailingToRead() {
    cMf32* d = Create(Dst());
    ASSERT_EQ(CloseStore(d), 0);
    EXPECT_EQ(Run(), -1);
    ASSERT_EQ(ui.errors.size(), 1u);
    EXPECT_EQ(ui.errors[0].message, 5);
    EXPECT_EQ(ui.errors[0].extra, Src());
  }
  // Every file of the folder by name, with its bytes.
  std::map<std::string, std::string> Files() {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
      files[e.path().filename().string()] = testing_support::ReadFileBytes(e.path().string());
    }
    return files;
  }

  TempDir dir;
  RecordingSink ui;
};

TEST_F(CopyStoreRecordsTest, CopiesEverySectionButAllAndLogsInKeyOrder) {
  cMf32* s = Create(Src());
  ASSERT_EQ(Put(s, 255, "never", Pattern(40, 1), 0), 0);
  ASSERT_EQ(Put(s, 7, "spr", Pattern(50, 2), 0), 0);
  ASSERT_EQ(Put(s, 0, "bb", Repeated(3000, 'b'), PACK_LZ), 0);
  ASSERT_EQ(Put(s, 0, "c", Repeated(100, 'c'), PACK_RLE), 0);
  ASSERT_EQ(Put(s, 128, "user", Pattern(33, 3), 0), 0);
  ASSERT_EQ(Put(s, 254, "last", Pattern(34, 4), 0), 0);
  uint8_t info[kRecKeyInfo] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  ASSERT_EQ(Put(s, 7, "info", Pattern(64, 5), 0, nullptr, info), 0);
  ASSERT_EQ(CloseStore(s), 0);
  cMf32* d = Create(Dst());
  ASSERT_EQ(Put(d, 7, "spr", Pattern(500, 9), 0), 0);   // replaced
  ASSERT_EQ(Put(d, 9, "keep", Pattern(70, 10), 0), 0);  // not in the source
  ASSERT_EQ(CloseStore(d), 0);

  ASSERT_NO_FATAL_FAILURE(RunLogging(
      {"Sect = M_ANY , Name = c, len = 100, pack = 2",
       "Sect = M_ANY , Name = bb, len = 3000, pack = 1",
       "Sect = M_SSPR, Name = spr, len = 50, pack = 0",
       "Sect = M_SSPR, Name = info, len = 64, pack = 0",
       "Sect = M_USER, Name = user, len = 33, pack = 0",
       "Sect = 254, Name = last, len = 34, pack = 0", "Units updated = 6, Bytes updated = 3281"},
      6));
  EXPECT_EQ(ui.counters.bytes, 3281);
  ASSERT_EQ(ui.progress.size(), 6u);
  EXPECT_EQ(ui.progress[0].units, 1);
  EXPECT_EQ(ui.progress[0].bytes, 100);
  EXPECT_EQ(ui.progress[5].files, -1);
  EXPECT_FALSE(ui.progress[5].hasSource || ui.progress[5].hasDestination);

  d = OpenStore(Dst(), MFO_READ);
  ASSERT_NE(d, nullptr);
  std::vector<KeyInfo> keys;
  ASSERT_EQ(Keys(d, -1, keys), 0);
  ASSERT_EQ(keys.size(), 7u);
  EXPECT_EQ(Get(d, 0, "bb"), Repeated(3000, 'b'));
  EXPECT_EQ(Get(d, 0, "c"), Repeated(100, 'c'));
  EXPECT_EQ(Get(d, 7, "spr"), Pattern(50, 2));
  EXPECT_EQ(Get(d, 9, "keep"), Pattern(70, 10));
  int code = 0;
  Get(d, 255, "never", &code);
  EXPECT_EQ(code, ERR_REC_MISSING);
  for (auto& k : keys) {
    if (k.name == "bb") {
      EXPECT_EQ(k.pack, 1);  // packed again the same way
    }
    if (k.name == "c") {
      EXPECT_EQ(k.pack, 2);
    }
  }
  // The info bytes travel with the key.
  uint8_t probe[kRecKeyBuffer] = {};
  Bytes key = MakeKey(7, "info", 0, 0, 0);
  std::memcpy(probe, key.data(), key.size());
  ASSERT_GT(StoreGetRecord(d->Engine(), probe, nullptr, 0), 0);
  EXPECT_EQ(std::memcmp(RecKeyInfo(probe), info, kRecKeyInfo), 0);
  EXPECT_EQ(Verify(d), "");
  EXPECT_EQ(CloseStore(d), 0);
}

TEST_F(CopyStoreRecordsTest, OnlySection255CopiesNothing) {
  cMf32* s = Create(Src());
  ASSERT_EQ(Put(s, 255, "all", Pattern(40, 1), 0), 0);
  ASSERT_EQ(CloseStore(s), 0);
  cMf32* d = Create(Dst());
  ASSERT_EQ(CloseStore(d), 0);
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(ui.log, std::vector<std::string>{"Units updated = 0, Bytes updated = 0"});
}

TEST_F(CopyStoreRecordsTest, MissingStoresAreMessage3AndNothingIsCreated) {
  cMf32* s = Create(Src());
  ASSERT_EQ(Put(s, 1, "a", Pattern(40, 1), 0), 0);
  ASSERT_EQ(CloseStore(s), 0);
  EXPECT_EQ(Run(), -1);
  ASSERT_EQ(ui.errors.size(), 1u);
  EXPECT_EQ(ui.errors[0].message, 3);
  EXPECT_EQ(ui.errors[0].extra, Dst());
  EXPECT_FALSE(std::filesystem::exists(Dst()));
  EXPECT_FALSE(std::filesystem::exists(dir / "UNITS.DKD"));

  RecordingSink other;
  EXPECT_EQ(CopyStoreRecords(other, (dir / "NONE.DKX").c_str(), Dst().c_str()), -1);
  ASSERT_EQ(other.errors.size(), 1u);
  EXPECT_EQ(other.errors[0].message, 3);
  EXPECT_EQ(other.errors[0].extra, dir / "NONE.DKX");
}

TEST_F(CopyStoreRecordsTest, ADestinationThatIsNoWholeStoreIsMessage3AndLeftAlone) {
  cMf32* s = Create(Src());
  ASSERT_EQ(Put(s, 1, "a", Pattern(40, 1), 0), 0);
  ASSERT_EQ(CloseStore(s), 0);
  cMf32* d = Create(Dst());
  ASSERT_EQ(Put(d, 1, "mine", Pattern(40, 2), 0), 0);
  ASSERT_EQ(CloseStore(d), 0);
  std::filesystem::remove(dir / "UNITS.DKD");
  const std::string index = testing_support::ReadFileBytes(Dst());
  EXPECT_EQ(Run(), -1);
  ASSERT_EQ(ui.errors.size(), 1u);
  EXPECT_EQ(ui.errors[0].message, 3);
  EXPECT_EQ(ui.errors[0].extra, Dst());
  EXPECT_EQ(testing_support::ReadFileBytes(Dst()), index);  // its keys are not wiped
  EXPECT_FALSE(std::filesystem::exists(dir / "UNITS.DKD"));

  RecordingSink second;
  testing_support::WriteFileBytes(Dst(), "not an index at all");
  EXPECT_EQ(CopyStoreRecords(second, Src().c_str(), Dst().c_str()), -1);
  ASSERT_EQ(second.errors.size(), 1u);
  EXPECT_EQ(second.errors[0].message, 3);
  EXPECT_EQ(testing_support::ReadFileBytes(Dst()), "not an index at all");
}

TEST_F(CopyStoreRecordsTest, AStoreNamedInAnotherCaseIsReplacedNotDoubled) {
  cMf32* s = Create(Src());
  ASSERT_EQ(Put(s, 1, "a", Pattern(40, 1), 0), 0);
  ASSERT_EQ(CloseStore(s), 0);
  cMf32* d = Create(dir / "units.dkx");
  ASSERT_EQ(Put(d, 9, "keep", Pattern(70, 2), 0), 0);
  ASSERT_EQ(CloseStore(d), 0);
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(Files().size(), 4u);
  auto records = Records(dir / "units.dkx");
  EXPECT_EQ(records.size(), 2u);
  EXPECT_EQ(records.count("1 a"), 1u);
}

TEST_F(CopyStoreRecordsTest, FontsBringTheirSurfaces) {
  cMf32* s = Create(Src());
  std::vector<Bytes> three = {Surface(4, 2, 0x11), Surface(8, 3, 0x22), Surface(5, 1, 0x33)};
  PutFont(s, "big", three, 3, Bytes{0xEE, 0xFF});
  PutFont(s, "none", {}, 0);
  PutFont(s, "neg", {Surface(4, 2, 0x44)}, -1);
  ASSERT_EQ(CloseStore(s), 0);
  cMf32* d = Create(Dst());
  PutFont(d, "big", {Surface(4, 4, 0x99)}, 1);  // the old font's surface stays behind
  ASSERT_EQ(CloseStore(d), 0);
  auto before = std::filesystem::file_size(dir / "UNITS.DKD");

  ASSERT_NO_FATAL_FAILURE(RunLogging(
      {"For FNT big, surf = 0, len = 64", "For FNT big, surf = 1, len = 80",
       "For FNT big, surf = 2, len = 64", "Sect = M_FNT , Name = big, len = 16, pack = 0",
       "Sect = M_FNT , Name = neg, len = 6, pack = 0",
       "Sect = M_FNT , Name = none, len = 2, pack = 0", "Units updated = 6, Bytes updated = 232"},
      6));
  EXPECT_EQ(ui.progress.size(), 6u);

  d = OpenStore(Dst(), MFO_READ);
  ASSERT_NE(d, nullptr);
  Bytes table = Get(d, 3, "big");
  ASSERT_EQ(table.size(), 16u);
  EXPECT_EQ(table[14], 0xEE);
  EXPECT_EQ(table[15], 0xFF);
  for (int i = 0; i < 3; ++i) {
    const uint8_t* p = d->RecPtr(Offset(table, i));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Bytes(p, p + three[i].size()), three[i]) << i;
  }
  EXPECT_EQ(Get(d, 3, "neg").size(), 6u);  // copied as it is, offset unchanged
  EXPECT_EQ(Verify(d), "");
  EXPECT_EQ(CloseStore(d), 0);
  // The old surface is still in the data file, unreferenced; nothing shrank.
  EXPECT_GT(std::filesystem::file_size(dir / "UNITS.DKD"), before);
  Bytes old = Surface(4, 4, 0x99);
  std::string data = testing_support::ReadFileBytes(dir / "UNITS.DKD");
  EXPECT_NE(data.find(std::string(old.begin(), old.end())), std::string::npos);
}

TEST_F(CopyStoreRecordsTest, LogLineTakesLenAndPackFromTheSourceKey) {
  cMf32* s = Create(Src());
  // 20 bytes under a key that says LZ, as another writer may have left it.
  Bytes plain = Repeated(20, 'p');
  Bytes packed = Packed(LzPack, plain, 64);
  ASSERT_FALSE(packed.empty());
  const int32_t stored = static_cast<int32_t>(packed.size());
  ASSERT_EQ(PutRaw(s, MakeKey(2, "wav", stored, PACK_LZ, 20), packed), 0);
  ASSERT_EQ(CloseStore(s), 0);
  cMf32* d = Create(Dst());
  ASSERT_EQ(CloseStore(d), 0);
  ASSERT_EQ(Run(), 0);
  ASSERT_GE(ui.log.size(), 1u);
  EXPECT_EQ(ui.log[0], "Sect = M_WAV , Name = wav, len = 20, pack = 1");
  d = OpenStore(Dst(), MFO_READ);
  std::vector<KeyInfo> keys;
  ASSERT_EQ(Keys(d, 2, keys), 0);
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].pack, 0);  // below 32 bytes: stored unpacked
  EXPECT_EQ(Get(d, 2, "wav"), plain);
  EXPECT_EQ(CloseStore(d), 0);
}

// A damaged font is refused before any of it is written.
void ExpectRejectedFont(CopyStoreRecordsTest* t, RecordingSink& ui, int result,
                        const std::string& src, const std::string& dst) {
  EXPECT_EQ(result, -1);
  ASSERT_EQ(ui.errors.size(), 1u);
  EXPECT_EQ(ui.errors[0].message, 5);
  EXPECT_EQ(ui.errors[0].extra, src);
  cMf32* d = OpenStore(dst, MFO_READ);
  ASSERT_NE(d, nullptr);
  std::vector<KeyInfo> keys;
  EXPECT_EQ(Keys(d, -1, keys), 0);
  EXPECT_TRUE(keys.empty());
  EXPECT_EQ(Verify(d), "");
  EXPECT_EQ(CloseStore(d), 0);
  (void)t;
}

TEST_F(CopyStoreRecordsTest, FontCountBeyondItsOffsetsIsMessage5) {
  cMf32* s = Create(Src());
  PutFont(s, "short", {Surface(4, 2, 1)}, 2);
  ASSERT_EQ(CloseStore(s), 0);
  cMf32* d = Create(Dst());
  ASSERT_EQ(CloseStore(d), 0);
  auto size = std::filesystem::file_size(dir / "UNITS.DKD");
  ExpectRejectedFont(this, ui, Run(), Src(), Dst());
  EXPECT_EQ(std::filesystem::file_size(dir / "UNITS.DKD"), size);
}

TEST_F(CopyStoreRecordsTest, TopDownOrOversizedSurfaceIsMessage5) {
  cMf32* s = Create(Src());
  PutFont(s, "topdown", {Surface(4, 2, 1), Surface(4, -2, 2)}, 2);
  ASSERT_EQ(CloseStore(s), 0);
  cMf32* d = Create(Dst());
  ASSERT_EQ(CloseStore(d), 0);
  ExpectRejectedFont(this, ui, Run(), Src(), Dst());

  // A header promising more pixels than the surface's block holds.
  RecordingSink second;
  std::filesystem::remove(Src());
  std::filesystem::remove(dir / "SHIP.DKD");
  s = Create(Src());
  Bytes liar = Surface(4, 2, 3);
  liar[20] = 0x00;
  liar[21] = 0x10;  // biSizeImage 4096
  PutFont(s, "liar", {liar}, 1);
  ASSERT_EQ(CloseStore(s), 0);
  ExpectRejectedFont(this, second, CopyStoreRecords(second, Src().c_str(), Dst().c_str()), Src(),
                     Dst());

  // A surface offset that is no record of the source.
  RecordingSink third;
  std::filesystem::remove(Src());
  std::filesystem::remove(dir / "SHIP.DKD");
  s = Create(Src());
  Bytes table = {1, 0, 0xF0, 0xFF, 0xFF, 0x0F};
  ASSERT_EQ(Put(s, 3, "wild", table, 0), 0);
  ASSERT_EQ(CloseStore(s), 0);
  ExpectRejectedFont(this, third, CopyStoreRecords(third, Src().c_str(), Dst().c_str()), Src(),
                     Dst());
}

TEST_F(CopyStoreRecordsTest, CancelStopsAtTheNextCheckPointAndLeavesTheStoreAsItWas) {
  cMf32* s = Create(Src());
  for (int i = 0; i < 5; ++i) ASSERT_EQ(Put(s, 1, "r" + std::to_string(i), Pattern(40, i), 0), 0);
  ASSERT_EQ(CloseStore(s), 0);
  cMf32* d = Create(Dst());
  ASSERT_EQ(CloseStore(d), 0);
  const auto before = Files();
  // Pumps: after opening (1), section 0 (2), section 1 (3), then three per
  // record (before it, before its write, after it): the 9th follows the
  // second record's write.
  ui.cancelAtPump = 9;
  EXPECT_EQ(Run(), -1);
  ASSERT_EQ(ui.errors.size(), 1u);
  EXPECT_EQ(ui.errors[0].message, 2);
  EXPECT_EQ(ui.errors[0].extra, "");
  EXPECT_EQ(ui.counters.units, 2);
  EXPECT_EQ(Files(), before);  // the two records written went with the copies
}

// Operation 1 the straightforward way, kept as the yardstick of the one
// ordered pass: a pass per section 0..254 (with a section filter), each
// record looked up again by its name, fonts with their surfaces, written
// straight into the store at dst. Returns the lines it would log.
std::vector<std::string> CopyBySection(const std::string& src, const std::string& dst) {
  std::vector<std::string> log;
  cMf32* s = OpenStore(src, MFO_READ);
  cMf32* d = OpenStore(dst, MFO_UPDATE);
  int32_t units = 0, bytes = 0;
  auto line = [&](const char* format, auto... args) {
    char text[1024];
    std::snprintf(text, sizeof text, format, args...);
    log.push_back(text);
  };
  EXPECT_EQ(Guard([&] {
              for (int section = 0; section < 255; ++section) {
                uint8_t wanted = static_cast<uint8_t>(section);
                s->ToBeg(
                    [](const void* key, void* data) {
                      return RecKeySection(key) != *static_cast<uint8_t*>(data) ? 1 : 0;
                    },
                    &wanted);
                while (const uint8_t* key = s->RecKeyGetNext(nullptr)) {
                  const char* name = RecKeyName(key);
                  const int32_t length = RecKeyUnpackedLength(key);
                  void* record = s->RecGet(wanted, name, nullptr, 1);
                  const uint8_t* p = static_cast<const uint8_t*>(record);
                  Bytes data(p, p + length);
                  const int count = section == 3 && length >= 2 ? GetI16(data.data()) : 0;
                  for (int i = 0; i < count; ++i) {
                    const uint8_t* surface = s->RecPtr(Offset(data, i));
                    int32_t size = static_cast<int32_t>(DibSize(surface));
                    PutI32(&data[2 + 4 * static_cast<size_t>(i)], d->RecPutNoname(surface, size));
                    ++units;
                    bytes += size;
                    line("For FNT %s, surf = %d, len = %d", name, i, size);
                  }
                  d->RecPut(wanted, name, data.data(), length, RecKeyInfo(key), RecKeyPack(key),
                            nullptr);
                  ++units;
                  bytes += length;
                  line("Sect = %s, Name = %s, len = %d, pack = %d", SectionName(wanted), name,
                       length, RecKeyPack(key));
                  s->RecMemFree(&record);
                }
              }
            }),
            0);
  line("Units updated = %d, Bytes updated = %d", units, bytes);
  EXPECT_EQ(CloseStore(s), 0);
  EXPECT_EQ(CloseStore(d), 0);
  return log;
}

TEST_F(CopyStoreRecordsTest, OnePassWritesAndLogsWhatAPassPerSectionDoes) {
  std::mt19937 rng(1209);
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    for (const auto& f : Files()) std::filesystem::remove(dir / f.first);
    // Keys of every section (255 and fonts among them), names of one to 40
    // bytes, records plain and packed both ways; the game's store holds some
    // of the same keys and others.
    cMf32* s = Create(Src());
    cMf32* d = Create(Dst());
    for (int i = 0; i < 600; ++i) {
      uint8_t section = static_cast<uint8_t>(rng() % 8 == 0 ? 3 : rng() % 256);
      std::string name(1 + rng() % 40, 'a');
      for (char& c : name) c = "ABCZ09_."[rng() % 8];
      if (section == 3) {
        std::vector<Bytes> surfaces;
        for (uint32_t k = rng() % 3; k > 0; --k) surfaces.push_back(Surface(4, 2, uint8_t(k)));
        PutFont(s, name, surfaces, static_cast<int16_t>(surfaces.size()));
      } else {
        Bytes data = rng() % 2 ? Pattern(1 + rng() % 300, i) : Repeated(1 + rng() % 300, 'r');
        ASSERT_EQ(Put(s, section, name, data, static_cast<int>(rng() % 3)), 0);
      }
      if (rng() % 3 == 0) {
        ASSERT_EQ(Put(d, section, name, Pattern(1 + rng() % 100, i), 0), 0);
      }
    }
    ASSERT_EQ(CloseStore(s), 0);
    ASSERT_EQ(CloseStore(d), 0);
    for (const char* ext : {".DKX", ".DKD"}) {
      std::filesystem::copy_file(dir / ("UNITS" + std::string(ext)),
                                 dir / ("WANT" + std::string(ext)));
    }
    ui = RecordingSink();
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(ui.log, CopyBySection(Src(), dir / "WANT.DKX"));
    auto files = Files();
    EXPECT_TRUE(files["UNITS.DKX"] == files["WANT.DKX"]);
    EXPECT_TRUE(files["UNITS.DKD"] == files["WANT.DKD"]);
  }
}

TEST_F(CopyStoreRecordsTest, AShippedIndexOutOfSectionOrderIsAReadFailure) {
  // Written by something that orders the keys the other way round.
  static const KeyConfig backwards{
      KEY_CUSTOM, [](void* a, const void* b) { return -RecKeyCompare(a, b); }, RecKeyLength, 0};
  StoreEngine* e = StoreOpen(Src().c_str(), &backwards, 0, MODE_CREATE, 0, 0);
  ASSERT_NE(e, nullptr);
  for (uint8_t section : {1, 2}) {
    Bytes data = Pattern(40, section);
    ASSERT_GT(StorePutRecord(e, MakeKey(section, "r", 40, 0, 40).data(), data.data(), 40), 0);
  }
  StoreClose(e);
  ASSERT_NO_FATAL_FAILURE(RunIntoAnEmptyStoreFailingToRead());
}

TEST_F(CopyStoreRecordsTest, AnOverlongSourceKeyIsAReadFailure) {
  cMf32* s = Create(Src());
  ASSERT_EQ(PutRaw(s, MakeKey(1, std::string(700, 'k'), 40, 0, 40), Pattern(40, 1)), 0);
  ASSERT_EQ(CloseStore(s), 0);
  ASSERT_NO_FATAL_FAILURE(RunIntoAnEmptyStoreFailingToRead());
}

}  // namespace

namespace {

// Puts a FaultEnv under everything for the life of the object.
struct FaultScope {
  plat::FaultEnv env{plat::BackendEnv()};
  FaultScope() { plat::SetDefaultEnv(&env); }
  ~FaultScope() { plat::SetDefaultEnv(nullptr); }
};

TEST_F(CopyStoreRecordsTest, AFailedGrowthOfTheDestinationIsMessage6AndLeavesItAsItWas) {
  cMf32* s = Create(Src());
  ASSERT_EQ(Put(s, 1, "small", Pattern(40, 1), 0), 0);
  ASSERT_EQ(Put(s, 2, "huge", Pattern(3 << 20, 2), 0), 0);  // more than one growth step
  ASSERT_EQ(CloseStore(s), 0);
  cMf32* d = Create(Dst());
  ASSERT_EQ(Put(d, 9, "keep", Pattern(70, 10), 0), 0);
  ASSERT_EQ(CloseStore(d), 0);
  const auto before = Files();
  {
    FaultScope fault;
    fault.env.FailNth(plat::FaultKind::Grow, 1, plat::kErrDiskFull);
    EXPECT_EQ(Run(), -1);
  }
  ASSERT_EQ(ui.errors.size(), 1u);
  EXPECT_EQ(ui.errors[0].message, 6);
  EXPECT_EQ(ui.errors[0].extra, Dst());
  EXPECT_EQ(ui.log, std::vector<std::string>{"Sect = M_BMP , Name = small, len = 40, pack = 0"});
  EXPECT_EQ(Files(), before);
}

}  // namespace

namespace {

struct EnvScope {
  explicit EnvScope(plat::Env* env) { plat::SetDefaultEnv(env); }
  ~EnvScope() { plat::SetDefaultEnv(nullptr); }
};

// A merge that replaces, adds and keeps records, fonts included; what it must
// give is made first in place, on a copy of the destination.
class StoreCommitTest : public CopyStoreRecordsTest {
 protected:
  using Pair = std::pair<std::string, std::string>;  // index and data file bytes

  void SetUp() override {
    cMf32* s = Create(Src());
    PutFont(s, "font", {Surface(4, 2, 1), Surface(8, 3, 2)}, 2);
    ASSERT_EQ(Put(s, 1, "bb", Repeated(3000, 'b'), PACK_LZ), 0);
    ASSERT_EQ(Put(s, 7, "new", Pattern(50, 2), 0), 0);
    ASSERT_EQ(CloseStore(s), 0);
    cMf32* d = Create(Dst());
    ASSERT_EQ(Put(d, 1, "bb", Pattern(900, 3), 0), 0);
    ASSERT_EQ(Put(d, 9, "keep", Pattern(70, 4), 0), 0);
    ASSERT_EQ(CloseStore(d), 0);
    old = Files();
    testing_support::WriteFileBytes(dir / "WANT.DKX", old["UNITS.DKX"]);
    testing_support::WriteFileBytes(dir / "WANT.DKD", old["UNITS.DKD"]);
    RecordingSink quiet;
    ASSERT_EQ(CopyStoreRecordsInPlace(quiet, Src().c_str(), (dir / "WANT.DKX").c_str()), 0);
    wanted = Records(dir / "WANT.DKX");
    ASSERT_EQ(wanted.size(), 4u);  // font, bb, new, keep
    ASSERT_EQ(wanted.count(""), 0u);
    auto files = Files();
    newPair = {files["WANT.DKX"], files["WANT.DKD"]};
    std::filesystem::remove(dir / "WANT.DKX");
    std::filesystem::remove(dir / "WANT.DKD");
  }
  // The folder as SetUp left it.
  void Restore() {
    for (const auto& f : Files()) std::filesystem::remove(dir / f.first);
    for (const auto& f : old) testing_support::WriteFileBytes(dir / f.first, f.second);
  }
  Pair Store() {
    auto files = Files();
    return {files["UNITS.DKX"], files["UNITS.DKD"]};
  }
  Pair OldPair() { return {old["UNITS.DKX"], old["UNITS.DKD"]}; }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& f : Files()) names.push_back(f.first);
    return names;
  }
  // Opens the store as the game does, and closes it.
  void ReadOnly() {
    cMf32* h = nullptr;
    Guard([&] { h = cMf32::Open(Dst().c_str(), MFO_READ, 0, 0); });
    CloseStore(h);
  }

  const std::vector<std::string> clean = {"SHIP.DKD", "SHIP.DKX", "UNITS.DKD", "UNITS.DKX"};
  std::map<std::string, std::string> old;
  std::map<std::string, std::string> wanted;
  Pair newPair;
};

TEST_F(StoreCommitTest, EveryFailedStepOfTheCommitLeavesTheOldOrTheNewStoreAndARerunFinishesIt) {
  using K = plat::FaultKind;
  for (K kind : {K::Copy, K::Write, K::Flush, K::Rename, K::Delete, K::SyncFolder}) {
    for (int n = 1; n < 40; ++n) {
      SCOPED_TRACE("kind " + std::to_string(static_cast<int>(kind)) + ", call " +
                   std::to_string(n));
      Restore();
      RecordingSink run;
      int result = 0, calls = 0;
      {
        FaultScope fault;
        fault.env.FailNth(kind, n, 5);
        result = CopyStoreRecords(run, Src().c_str(), Dst().c_str());
        calls = fault.env.Calls(kind);
      }
      const Pair now = Store();
      EXPECT_TRUE(now == OldPair() || now == newPair);
      if (result == 0) {
        EXPECT_EQ(now, newPair);
      } else {
        ASSERT_EQ(run.errors.size(), 1u);
        EXPECT_EQ(run.errors[0].message,
                  kind == K::Copy ? 3 : 6);  // no copy: the store cannot be opened
        EXPECT_EQ(run.errors[0].extra, Dst());
      }
      RecordingSink again;
      EXPECT_EQ(CopyStoreRecords(again, Src().c_str(), Dst().c_str()), 0);
      EXPECT_EQ(Records(Dst()), wanted);
      EXPECT_EQ(Names(), clean);
      if (n == 1) {
        EXPECT_GT(calls, 0);  // the commit makes calls of every kind
      }
      if (calls < n) break;  // the n-th call never came: every one has failed once
    }
  }
}

TEST_F(StoreCommitTest, EachRenameComesAfterTheFlushOfItsDataAndBeforeTheSyncOfItsFolder) {
  testing_support::RecordingEnv env(plat::Env::Default());
  RecordingSink run;
  {
    EnvScope scope(&env);
    ASSERT_EQ(CopyStoreRecords(run, Src().c_str(), Dst().c_str()), 0);
  }
  EXPECT_EQ(testing_support::Renames(env.events), 2);
  EXPECT_EQ(testing_support::UnsafeRenames(env.events), std::vector<std::string>{});
}

TEST_F(StoreCommitTest, AnInterruptedCommitIsFinishedByTheNextChangeAndReadersChangeNothing) {
  // Only the first rename gets through; the retry of the second fails too.
  struct FirstRenameOnly : plat::EnvWrapper {
    using EnvWrapper::EnvWrapper;
    int renames = 0;
    int Rename(const char* from, const char* to) override {
      return ++renames > 1 ? 5 : target()->Rename(from, to);
    }
  } env(plat::BackendEnv());
  {
    EnvScope scope(&env);
    EXPECT_EQ(Run(), -1);
  }
  ASSERT_EQ(ui.errors.size(), 1u);
  EXPECT_EQ(ui.errors[0].message, 6);
  auto files = Files();
  EXPECT_EQ(files["UNITS.DKX"], newPair.first);
  EXPECT_EQ(files["UNITS.DKD"], old["UNITS.DKD"]);
  EXPECT_EQ(files.count("UNITS.$$C"), 1u);
  EXPECT_EQ(files.count("UNITS.$$.DKD"), 1u);
  ReadOnly();
  EXPECT_EQ(Files(), files);

  EXPECT_EQ(StoreRecover(Dst().c_str()), 0);
  EXPECT_EQ(Store(), newPair);
  EXPECT_EQ(Names(), clean);
}

TEST_F(StoreCommitTest, StrayCopiesWithoutAWholeRecordAreDeletedBeforeAChange) {
  for (const char* name : {"UNITS.$$.DKX", "UNITS.$$.DKD", "UNITS.$$.$$X"}) {
    testing_support::WriteFileBytes(dir / name, "left by a killed update");
  }
  testing_support::WriteFileBytes(dir / "UNITS.$$C",
                                  std::string("DKCM\1\0\0\0\x40\x08", 10));  // cut short
  auto files = Files();
  ReadOnly();
  EXPECT_EQ(Files(), files);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Records(Dst()), wanted);
  EXPECT_EQ(Names(), clean);
}

TEST_F(StoreCommitTest, TwoChangesOfOneStoreExcludeEachOther) {
  StoreChange first;
  ASSERT_EQ(first.Begin(Dst().c_str(), StoreChange::Start::Copy), 0);
  StoreChange second;
  EXPECT_NE(second.Begin(Dst().c_str(), StoreChange::Start::Copy), 0);
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(ui.errors[0].message, 3);
  EXPECT_TRUE(std::filesystem::exists(dir / "UNITS.$$.DKX"));  // the first change's copies stay
}

TEST_F(StoreCommitTest, AStoreWhoseWorkingNamesWouldNotFitIsNeverChanged) {
  // The index name takes 259 bytes, the whole field; its copy would need 262.
  const std::string path = dir / (std::string(259 - 4 - dir.path().size(), 'u') + ".DKX");
  cMf32* d = Create(path);
  ASSERT_EQ(CloseStore(d), 0);
  auto files = Files();
  StoreChange change;
  EXPECT_EQ(change.Begin(path.c_str(), StoreChange::Start::Copy), ERR_NOT_STORE);
  EXPECT_EQ(Files(), files);
}

}  // namespace
