// `updkit dist make` on pairs of game folders, then the real updater (the
// console build) on a copy of OLD: at the --from version the installation
// ends up holding exactly NEW (every file byte for byte and with NEW's time,
// every store record for record) and the registry the --to version; at any
// other version the update is refused and nothing changes.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "tests/e2e_dist/DistTestKit.h"
#include "tests/support/ConsoleUpdater.h"
#include "tests/support/Dib.h"
#include "tests/support/GameInstall.h"
#include "tests/support/Pattern.h"
#include "tests/support/Process.h"
#include "tests/support/TestPaths.h"
#include "tests/update/PackageTestKit.h"

using namespace testing_support;
using namespace disttest;
namespace fs = std::filesystem;

namespace {

const char kVersionKey[] = "SOFTWARE\\Varnholt\\Marovex\\Version";
const size_t kLarge = (size_t{64} << 20) + 1;  // ships as it is, whatever it packs to

// Files: changed (one under another letter case), new, unchanged, nested,
// name twins in two folders, packing and not, large, at every hour the
// package entries must handle; a new empty folder; a file NEW lacks.
void Files(GamePair& p) {
  p.Old("readme.txt", "readme of 1.002.005");
  p.New("README.TXT", "readme of 1.003.000");
  p.Both("same.txt", pkgtest::Text(3000));
  p.Old("gone.txt", "only the old version has it");
  p.New("MAPS/deep/island.map", pkgtest::Text(20000));
  p.Old("Data/UNITS/units.txt", pkgtest::Text(1000));
  p.New("Data/UNITS/units.txt", pkgtest::Text(9000));
  p.New("Data/UNITS/more.txt", pkgtest::Text(7000) + "more");
  p.New("Data/x/notes.txt", "notes of x");
  p.New("Data/y/NOTES.TXT", "notes of y");
  p.New("Sound/noise.wav", pkgtest::Noise(5000));
  p.New("Sound/speech.wav", pkgtest::Text(40000) + "speech");
  p.New("Sound/late.wav", pkgtest::Text(30000) + "late");
  p.New("Video/intro.avi", std::string(kLarge, 'v'));
  p.Both("Music/theme.mid", Pattern(500, 7));
  p.NewFolder("MODS/empty");
  p.NewFolder("Data/Empty/Inner");
}

// Stores with unchanged, changed (bytes, info bytes or pack method only),
// new and removed records in several sections, packed and not; fonts
// unchanged, with a changed surface and new; two stores of one name in two
// folders; a store only NEW has; one unchanged; one whose changes cannot all
// be shipped.
void Stores(GamePair& p) {
  const std::string rle(3000, 'R');
  const Record arial = Font("arial", {Dib(4, 2, 'a'), Dib(8, 3, 'b')}, "tail");
  p.OldStore("Data/UNITS.DKX", {
                                   {0, "plain", Pattern(100, 1)},
                                   {1, "lz", pkgtest::Text(5000), 1},
                                   {2, "rle", rle, 2},
                                   {6, "info", Pattern(64, 2), 0, "v1"},
                                   {7, "repack", pkgtest::Text(3000)},
                                   arial,
                                   Font("times", {Dib(4, 2, 't')}),
                               });
  p.NewStore("Data/UNITS.DKX", {
                                   {0, "plain", Pattern(100, 1)},
                                   {1, "lz", pkgtest::Text(6000), 1},
                                   {2, "rle", rle, 2},
                                   {6, "info", Pattern(64, 2), 0, "v2"},
                                   {7, "repack", pkgtest::Text(3000), 1},
                                   arial,
                                   Font("times", {Dib(4, 2, 'u')}),
                                   {9, "newrec", Pattern(40, 5), 1},
                                   Font("courier", {Dib(8, 8, 'c')}),
                                   {128, "tiny", std::string(20, 't'), 1},
                               });
  for (const char* folder : {"Data/a/", "Data/b/"}) {
    p.OldStore(std::string(folder) + "SPRITES.DKX", {{6, "unit", Pattern(300, 8), 2}});
    p.NewStore(std::string(folder) + "SPRITES.DKX", {{6, "unit", Pattern(300, 9), 2}});
  }
  // What the update leaves as it was: this store ends up neither OLD nor NEW.
  p.OldStore("Data/LEFT.DKX", {{128, "gone", Pattern(50, 3)}, {255, "all", Pattern(40, 4)}});
  p.NewStore("Data/LEFT.DKX", {{255, "all", Pattern(40, 5)}, {0, "more", Pattern(40, 6)}});
  p.NewStore("Data/NEW.DKX", {{0, "fresh", Pattern(90, 6), 1}});
  p.OldStore("SAME.DKX", {{0, "kept", Pattern(90, 6)}});
  p.NewStore("SAME.DKX", {{0, "kept", Pattern(90, 6)}});
}

// A data folder of another name, which the installation keeps elsewhere.
void OtherData(GamePair& p) {
  p.Old("GameData/maps/a.map", pkgtest::Text(2000));
  p.New("GameData/maps/a.map", pkgtest::Text(2500));
  p.New("GameData/M\xc3\xbcller.txt", "new in the data folder, named beyond ASCII");
  p.New("c.txt", "new in the game's folder");
  p.OldStore("GameData/UNITS.DKX", {{0, "u", Pattern(60, 1)}});
  p.NewStore("GameData/UNITS.DKX", {{0, "u", Pattern(60, 2)}});
}

struct Case {
  const char* name;
  void (*build)(GamePair&);
  const char* from;
  uint32_t fromWord;
  const char* to;
  uint32_t toWord;
  const char* dataFolder;  // --data, kept outside the game's folder; null: Data, inside
  std::vector<std::string> warnings;
  std::vector<std::string> left;  // what the warnings leave different from NEW
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const Case kCases[] = {
    {"files, update type 1",
     Files,
     "1.002.005",
     0x01020005,
     "1.003.000",
     0x01030000,
     nullptr,
     {"gone.txt is not in NEW"},
     {}},
    {"stores, update type 2",
     Stores,
     "1.002.005",
     0x01020005,
     "1.002.009",
     0x01020009,
     nullptr,
     {"Data\\LEFT.DKX: M_USER gone is not in NEW",
      "Data\\LEFT.DKX: M_ALL all is new or changed; the updater never copies section 255"},
     {"DATA/LEFT.DKX"}},
    {"data elsewhere, update type 0",
     OtherData,
     "1.002.005",
     0x01020005,
     "2.002.005",
     0x02020005,
     "GameData",
     {},
     {}},
};

// Installations at a version next to 1.002.005, all refused.
const uint32_t kOtherVersions[] = {0x02020005, 0x01030005, 0x01010005, 0x01020006, 0x01020004};

// Every file of a folder and its bytes, by path below it.
std::map<std::string, std::string> Bytes(const std::string& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) out[fs::relative(e.path(), root).string()] = ReadFileBytes(e.path());
  }
  return out;
}

ProcessResult Make(const GamePair& p, const Case& c, const std::string& out,
                   std::vector<std::string> more = {}) {
  std::vector<std::string> args = {"dist",   "make", p.oldRoot, p.newRoot, out,
                                   "--from", c.from, "--to",    c.to};
  if (c.dataFolder != nullptr) args.insert(args.end(), {"--data", c.dataFolder});
  args.insert(args.end(), more.begin(), more.end());
  return RunProgram(UpdkitPath(), args);
}

class DistRun : public ::testing::TestWithParam<Case> {};

TEST_P(DistRun, UpdatesExactlyTheOldVersionToTheNew) {
  const Case& c = GetParam();
  TempDir dir;
  GamePair pair(dir / "Spielst\xc3\xa4nde/");  // UTF-8 on the disk, the code page in updkit
  c.build(pair);
  GameInstall g(dir.path(), false);
  fs::remove(g.dist);

  // Warnings on stderr and in the report; --strict writes nothing.
  if (!c.warnings.empty()) {
    ProcessResult strict = Make(pair, c, g.dist, {"--strict"});
    EXPECT_EQ(1, strict.status) << strict.err;
    EXPECT_FALSE(fs::exists(g.dist));
  }
  ProcessResult made = Make(pair, c, g.dist);
  ASSERT_EQ(0, made.status) << made.err;
  const std::string report = ReadFileBytes(g.dist + "Report.txt");
  EXPECT_EQ(0u, report.find(std::string("Update to version ") + c.to + " (for version " + c.from +
                            ")\r\n"))
      << report;
  for (const std::string& w : c.warnings) {
    EXPECT_NE(std::string::npos, made.err.find("warning: " + w)) << made.err;
    EXPECT_NE(std::string::npos, report.find("  " + w)) << report;
  }
  // The same folders give the same bytes.
  const std::string again = dir / "Spielst\xc3\xa4nde/noch einmal";
  ProcessResult remade = Make(pair, c, again);
  ASSERT_EQ(0, remade.status) << remade.err;
  EXPECT_TRUE(Bytes(g.dist) == Bytes(again));
  // What dist make writes, dist check passes: no error, and the one range it
  // accepts is the --from version.
  ProcessResult checked = RunProgram(UpdkitPath(), {"dist", "check", again});
  EXPECT_EQ(0, checked.status) << checked.out << checked.err;
  EXPECT_EQ(std::string::npos, checked.out.find(": error:")) << checked.out;
  fs::copy_file(UpdaterPath(), g.Updater());

  // The installation: OLD in the game's folder, its data folder elsewhere
  // when the case has one.
  std::string data = g.game + "Data/";
  if (c.dataFolder != nullptr) {
    data = dir / "elsewhere/";
    CopyFolder(pair.oldRoot + c.dataFolder, data);
  }
  CopyFolder(pair.oldRoot, g.game);
  if (c.dataFolder != nullptr) fs::remove_all(g.game + c.dataFolder);
  auto registerAt = [&](uint32_t version) {
    g.version = version;
    std::string text = g.RegistryText();
    const std::string inside = g.game + "Data/";
    text.replace(text.find(inside), inside.size(), data);
    WriteFileBytes(g.registry, text);
  };
  auto installed = [&] {
    Contents all = ContentsOf(g.game);
    if (c.dataFolder == nullptr) return all;
    std::string folder = c.dataFolder;
    for (char& ch : folder) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (const auto& [rel, bytes] : ContentsOf(data)) all[folder + "/" + rel] = bytes;
    return all;
  };
  fs::create_directories(g.game + "SAVEGAME");  // made by every run that reads the registry
  const Contents before = installed();

  for (uint32_t other : kOtherVersions) {
    registerAt(other);
    ProcessResult p = RunConsoleUpdater(g, {"patch.txt"});
    EXPECT_EQ(255, p.status) << std::hex << other;
    EXPECT_NE(std::string::npos, p.err.find("Incorrect version")) << p.err;
    EXPECT_EQ(other, RegistryDword(g.registry, kVersionKey, "Version"));
    EXPECT_TRUE(before == installed()) << std::hex << other;
  }

  registerAt(c.fromWord);
  ProcessResult run = RunConsoleUpdater(g, {"patch.txt", "-L"});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_EQ(c.toWord, RegistryDword(g.registry, kVersionKey, "Version"));

  ExpectUpdated(installed(), ContentsOf(pair.oldRoot), ContentsOf(pair.newRoot), c.left);
  for (const auto& [rel, time] : pair.times) {
    const std::string at = c.dataFolder != nullptr && rel.rfind(c.dataFolder, 0) == 0
                               ? data + rel.substr(std::strlen(c.dataFolder) + 1)
                               : g.game + rel;
    EXPECT_EQ(time / 10000, pkgtest::TimesOf(plat::Utf8ToAnsi(at)).lastWrite / 10000)
        << rel;  // to the millisecond
  }
}

INSTANTIATE_TEST_SUITE_P(Pairs, DistRun, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name = info.param.name;
                           for (char& ch : name) {
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return name;
                         });

// Versions an update type cannot take the installation to are refused before
// anything is written.
TEST(DistMake, RefusesVersionsItsUpdateTypeCannotWrite) {
  TempDir dir;
  GamePair pair(dir.path());
  pair.New("a.txt", "a");
  struct Refused {
    const char* to;
    std::vector<std::string> type;
    const char* why;
  };
  const Refused kRefused[] = {
      {"1.003.001", {}, "update type 1 sets a build that is not lower, and patch 0"},
      {"1.001.000", {}, "update type 1 sets a build that is not lower, and patch 0"},
      {"1.002.004", {}, "update type 1 sets a build that is not lower, and patch 0"},
      {"1.003.000", {"--type", "0"}, "update type 0 keeps the build and the patch"},
      {"1.002.009", {"--type", "1"}, "update type 1 sets a build that is not lower, and patch 0"},
      {"1.003.000", {"--type", "2"}, "update type 2 keeps the build"},
  };
  for (const Refused& r : kRefused) {
    const Case c{"", nullptr, "1.002.005", 0, r.to, 0, nullptr, {}, {}};
    ProcessResult p = Make(pair, c, dir / "out", r.type);
    EXPECT_EQ(1, p.status) << r.to;
    EXPECT_NE(std::string::npos, p.err.find(r.why)) << p.err;
    EXPECT_FALSE(fs::exists(dir / "out"));
  }
}

}  // namespace

// OUT is never written over, and --report puts the report elsewhere.
TEST(DistMake, WritesANewFolderAndTheReportWhereAsked) {
  TempDir dir;
  GamePair pair(dir.path());
  pair.New("a.txt", "a");
  const Case c{"", nullptr, "1.002.005", 0, "1.002.006", 0, nullptr, {}, {}};
  fs::create_directories(dir / "taken");
  ProcessResult p = Make(pair, c, dir / "taken");
  EXPECT_EQ(1, p.status);
  EXPECT_NE(std::string::npos, p.err.find("is there already")) << p.err;
  EXPECT_TRUE(fs::is_empty(dir / "taken"));

  p = Make(pair, c, dir / "out", {"--report", dir / "notes.txt"});
  ASSERT_EQ(0, p.status) << p.err;
  EXPECT_EQ(0u, ReadFileBytes(dir / "notes.txt").find("Update to version 1.002.006"));
  EXPECT_FALSE(fs::exists(dir / "out/Report.txt"));
  EXPECT_TRUE(fs::exists(dir / "out/patch.txt"));
  EXPECT_FALSE(fs::exists(dir / "out.part"));
}
