// The real updater stopped at random moments, by SIGKILL (a crash, a power
// cut, a player ending a "hung" program) and by SIGINT (Ctrl-C, the Cancel
// of the console), while it copies a large file, installs a package and
// merges records into a store. After every stop the game must be whole:
// each file old or new and never cut short, the store exactly the old or
// exactly the new one and sound, the registry new only once everything is;
// and running the update again must give what an uninterrupted run gives.
//
// UPD_KILL_ROUNDS sets the number of stops (default 50, 12 in a sanitizer
// build, where each run is four times slower); UPD_KILL_SEED the seed of
// their moments.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Mf32int.h"
#include "ourlib/src/StoreEngine.h"
#include "tests/support/GameInstall.h"
#include "tests/support/Pattern.h"
#include "tests/support/Process.h"
#include "tests/support/TestPaths.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr long kDefaultRounds = 12;
#else
constexpr long kDefaultRounds = 50;
#endif

const char kVersionKey[] = "SOFTWARE\\Varnholt\\Marovex\\Version";
const char kScript[] =
    "updatetype = 0\n"
    "setversion = 9\n"
    "dstpath = __VIDEO;\n"
    "file = \"INTRO.AVI\", 0;\n"
    "dstpath = __MAIN;\n"
    "file = \"ADDONS.PAK\", 2;\n"
    "dstpath = __DATA;\n"
    "file = \"UNITS.DKX\", 1;\n";

long EnvNumber(const char* name, long fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? std::strtol(v, nullptr, 10) : fallback;
}

bool IsStoreFile(const fs::path& p) {
  std::string ext = p.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return std::toupper(c); });
  return ext == ".DKX" || ext == ".DKD";
}

// The records of a store, section and name to bytes; "" in *problem when
// it opens read-only and verifies.
std::map<std::string, std::string> Records(const std::string& path, std::string* problem) {
  std::map<std::string, std::string> records;
  problem->clear();
  cMf32* h = nullptr;
  int code = Guard([&] { h = cMf32::Open(path.c_str(), MFO_READ, 0, 0); });
  if (code != 0 || h == nullptr) {
    *problem = "cannot open (code " + std::to_string(code) + ")";
    return records;
  }
  *problem = StoreVerify(h->Engine());
  if (problem->empty()) {
    code = Guard([&] {
      h->ToBeg(nullptr, nullptr);
      uint8_t key[kRecKeyBuffer];
      while (h->RecKeyGetNext(key) != nullptr) {
        const std::string name = RecKeyName(key);
        void* bytes = h->RecGet(RecKeySection(key), name.c_str(), nullptr, 1);
        const int32_t n =
            RecKeyPack(key) == 0 ? RecKeyStoredLength(key) : RecKeyUnpackedLength(key);
        records[std::to_string(RecKeySection(key)) + "/" + name] =
            std::string(static_cast<const char*>(bytes), static_cast<size_t>(n));
        h->RecMemFree(&bytes);
      }
    });
    if (code != 0) *problem = "cannot read its records (code " + std::to_string(code) + ")";
  }
  Guard([&] { delete h; });
  return records;
}

// What a person would see of the game folder: every file's bytes by its
// path below the folder, with a store (its ".DKX") as its records instead.
struct Snapshot {
  std::map<std::string, std::string> files;
  std::map<std::string, std::map<std::string, std::string>> stores;
  std::map<std::string, std::string> problems;  // the stores that did not open and verify
};

Snapshot Take(const std::string& folder) {
  Snapshot s;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (!e.is_regular_file()) continue;
    const std::string rel = fs::relative(e.path(), folder).generic_string();
    if (!IsStoreFile(e.path())) {
      s.files[rel] = ReadFileBytes(e.path().string());
    } else if (e.path().extension() == ".DKX") {
      std::string problem;
      s.stores[rel] = Records(e.path().string(), &problem);
      if (!problem.empty()) s.problems[rel] = problem;
    }
  }
  return s;
}

// The game before the update, the distribution, and the run of the update.
class Interrupted : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(tpl_);
    BuildGame(tpl_ + "/");
    BuildDistribution();
    Reset();
    old_ = Take(g_.game);
    ASSERT_TRUE(old_.problems.empty());
  }

  // A large video, a package folder with a file to replace, and a store of
  // 3,000 records in four sections.
  void BuildGame(const std::string& game) {
    for (const char* sub : {"Data", "Video", "ADDONS/MAPS"}) fs::create_directories(game + sub);
    WriteFileBytes(game + "Video/INTRO.AVI", Pattern(3 << 20, 1));
    WriteFileBytes(game + "ADDONS/MAPS/m0.map", Pattern(70000, 2));
    WriteFileBytes(game + "ADDONS/readme.txt", "the old readme\r\n");
    PutRecords(game + "Data/UNITS.DKX", 3000, 0, "old");
  }

  // The new video (larger), a package of 24 files (packed), and a shipped
  // store of 4,000 records of which 1,500 replace records of the game's.
  void BuildDistribution() {
    g_.Ship("patch.txt", kScript);
    g_.Ship("INTRO.AVI", Pattern(5 << 20, 3));
    const std::string pkg = dir_ / "pkg/";
    fs::create_directories(pkg + "MAPS");
    for (int i = 0; i < 24; ++i) {
      std::string bytes =
          Pattern(40000 + 1000 * i, 10 + i) + std::string(30000, static_cast<char>('a' + i));
      WriteFileBytes(pkg + "MAPS/m" + std::to_string(i) + ".map", bytes);
    }
    WriteFileBytes(pkg + "readme.txt", "the new readme\r\n");
    ProcessResult p =
        RunProgram(UpdkitPath(), {"pkg", "build", g_.dist + "ADDONS.PAK", "--from", pkg, "--lz"});
    ASSERT_EQ(p.status, 0) << p.err;
    PutRecords(g_.dist + "UNITS.DKX", 4000, 1500, "new");
  }

  // count records named u<index>; the first `from` indexes are skipped so
  // that a shipped store overlaps the game's by 3000 - from.
  void PutRecords(const std::string& path, int count, int from, const std::string& tag) {
    int code = Guard([&] {
      cMf32* h = cMf32::Open(path.c_str(), MFO_CREATE, 0, 0);
      for (int i = from; i < from + count; ++i) {
        const std::string name = "u" + std::to_string(i);
        const std::string bytes = tag + Pattern(60 + i % 300, static_cast<uint32_t>(i)) +
                                  std::string(static_cast<size_t>(i % 200), 'z');
        const uint8_t section = static_cast<uint8_t>(i % 4 == 3 ? 7 : i % 4);  // no fonts (3)
        h->RecPut(section, name.c_str(), bytes.data(), static_cast<int32_t>(bytes.size()), nullptr,
                  i % 3, nullptr);
      }
      delete h;
    });
    ASSERT_EQ(code, 0) << path;
  }

  // The game as it was before any run, and the registry with it.
  void Reset() {
    fs::remove_all(g_.game);
    fs::copy(tpl_, g_.game, fs::copy_options::recursive);
    g_.WriteRegistry();
  }

  ProcessResult Run(long signalAfterUs = -1, int signalNumber = 9) {
    ProcessOptions o;
    o.workingDir = g_.dist;
    o.environment = {"UPDATER_REGISTRY=" + g_.registry};
    o.input = "n\n";
    o.signalAfterUs = signalAfterUs;
    o.signalNumber = signalNumber;
    return RunProgram(g_.Updater(), {"patch.txt"}, o);
  }

  uint32_t Version() { return RegistryDword(g_.registry, kVersionKey, "Version"); }

  TempDir dir_;
  GameInstall g_{dir_.path()};
  std::string tpl_ = dir_ / "template";
  Snapshot old_;
};

// Every file is the old or the new one (a file the update adds may also be
// missing); other files are leftovers, allowed only where `strays` says so.
void ExpectWhole(const Snapshot& now, const Snapshot& old, const Snapshot& clean, bool strays,
                 const std::string& when) {
  for (const auto& [rel, bytes] : now.files) {
    auto o = old.files.find(rel);
    auto n = clean.files.find(rel);
    if (o == old.files.end() && n == clean.files.end()) {
      EXPECT_TRUE(strays) << when << ": a file left behind: " << rel;
      continue;
    }
    const bool isOld = o != old.files.end() && o->second == bytes;
    const bool isNew = n != clean.files.end() && n->second == bytes;
    EXPECT_TRUE(isOld || isNew) << when << ": " << rel << " is neither old nor new ("
                                << bytes.size() << " bytes)";
  }
  for (const auto& [rel, bytes] : old.files) {
    EXPECT_TRUE(now.files.count(rel) == 1) << when << ": " << rel << " was lost";
  }
  for (const auto& [rel, records] : now.stores) {
    if (old.stores.count(rel) == 0 && clean.stores.count(rel) == 0) {
      EXPECT_TRUE(strays) << when << ": a store left behind: " << rel;
      continue;
    }
    if (now.problems.count(rel) == 1) {
      // A stop between the two renames of a commit leaves a new index beside
      // the old data, with the commit record that the next update heals by.
      const std::string commitRecord = rel.substr(0, rel.size() - 4) + ".$$C";
      EXPECT_TRUE(strays && now.files.count(commitRecord) == 1)
          << when << ": " << rel << ": " << now.problems.at(rel);
      continue;
    }
    const bool isOld = old.stores.count(rel) == 1 && old.stores.at(rel) == records;
    const bool isNew = clean.stores.count(rel) == 1 && clean.stores.at(rel) == records;
    EXPECT_TRUE(isOld || isNew) << when << ": the store " << rel << " is neither old nor new ("
                                << records.size() << " records)";
  }
}

TEST_F(Interrupted, EveryStopLeavesTheGameWholeAndARerunCompletesIt) {
  // The uninterrupted run: what every rerun must reach, and how long a run takes.
  const auto t0 = std::chrono::steady_clock::now();
  ProcessResult first = Run();
  const long runUs = static_cast<long>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0)
          .count());
  ASSERT_EQ(first.status, 0) << first.err;
  const Snapshot clean = Take(g_.game);
  ASSERT_TRUE(clean.problems.empty());
  ASSERT_NE(clean.stores, old_.stores);
  const uint32_t newVersion = Version();
  ASSERT_NE(newVersion, g_.version);

  const long rounds = EnvNumber("UPD_KILL_ROUNDS", kDefaultRounds);
  std::mt19937 random(static_cast<uint32_t>(EnvNumber("UPD_KILL_SEED", 20261209)));
  std::uniform_int_distribution<long> moment(0, runUs + runUs / 10);
  int finished = 0, cancelled = 0, killed = 0;
  for (long round = 0; round < rounds && !HasFailure(); ++round) {
    Reset();
    // Every fourth stop is a Ctrl-C, which must clean up after itself.
    const bool interrupt = round % 4 == 3;
    const long at = moment(random);
    const std::string when = (interrupt ? "SIGINT" : "SIGKILL") + std::string(" at ") +
                             std::to_string(at) + " us of " + std::to_string(runUs);
    ProcessResult stopped = Run(at, interrupt ? 2 : 9);
    if (stopped.status == 0) {
      ++finished;
    } else if (interrupt) {
      ++cancelled;
      // A Ctrl-C that came before the console listened ends the program
      // at once, like a kill; one that came later is the Cancel button.
      EXPECT_TRUE(stopped.status == 255 || stopped.status == 128 + 2)
          << when << ": " << stopped.err;
    } else {
      ++killed;
    }

    const Snapshot now = Take(g_.game);
    const bool cleanExit = stopped.status == 0 || stopped.status == 255;
    ExpectWhole(now, old_, clean, !cleanExit, when);
    const uint32_t version = Version();
    EXPECT_TRUE(version == g_.version || version == newVersion) << when;
    if (version == newVersion) {
      EXPECT_EQ(now.files, clean.files) << when << ": the registry is new before every file is";
      EXPECT_EQ(now.stores, clean.stores) << when << ": the registry is new before the store is";
    }

    ProcessResult rerun = Run();
    ASSERT_EQ(rerun.status, 0) << when << ", then the rerun: " << rerun.err;
    const Snapshot after = Take(g_.game);
    EXPECT_TRUE(after.problems.empty()) << when << ", after the rerun: a store does not verify";
    EXPECT_EQ(after.files, clean.files)
        << when << ": the rerun does not give the clean run's files";
    EXPECT_EQ(after.stores, clean.stores)
        << when << ": the rerun does not give the clean run's store";
    EXPECT_EQ(Version(), newVersion) << when;
  }
  std::printf("%ld stops over a run of %ld us: %d killed, %d cancelled, %d finished first\n",
              rounds, runUs, killed, cancelled, finished);
}

}  // namespace
