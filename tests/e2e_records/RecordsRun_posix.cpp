// The real updater running `file = "UNITS.DKX", 1;` on record stores made by
// `updkit store`, on a game installation in a temporary folder; the result
// is read back with `updkit store verify`, `list` and `get`.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ConsoleUpdater.h"
#include "tests/support/Dib.h"
#include "tests/support/GameInstall.h"
#include "tests/support/Lines.h"
#include "tests/support/Pattern.h"
#include "tests/support/Process.h"
#include "tests/support/TestPaths.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const char kRule[] = "===========================================================================";
const char kScript[] = "updatetype = 0\ndstpath = __DATA;\nfile = \"UNITS.DKX\", 1;\n";

struct RecordRun {
  TempDir dir;
  GameInstall g{dir.path()};
  std::string work = dir / "work/";
  std::string src = g.dist + "UNITS.DKX";
  std::string dst = g.game + "Data/UNITS.DKX";
  int files = 0;

  RecordRun() {
    g.WriteRegistry();
    fs::create_directories(work);
    g.Ship("patch.txt", kScript);
  }
  // updkit with args; fails the test unless it exits 0.
  std::string Kit(const std::vector<std::string>& args, int status = 0) {
    ProcessResult p = RunProgram(UpdkitPath(), args);
    EXPECT_EQ(status, p.status) << args[1] << " " << args[2] << ": " << p.err;
    return p.out;
  }
  std::string File(const std::string& bytes) {
    std::string path = work + "f" + std::to_string(files++);
    WriteFileBytes(path, bytes);
    return path;
  }
  void Put(const std::string& store, const std::string& section, const std::string& name,
           const std::string& bytes, const std::string& pack = "0") {
    Kit({"store", "put", store, section, name, File(bytes), "--pack", pack});
  }
  std::string Get(const std::string& store, const std::string& section, const std::string& name) {
    std::string out = work + "got";
    Kit({"store", "get", store, section, name, out});
    return ReadFileBytes(out);
  }
  ProcessResult Update() {
    return RunConsoleUpdater(g, {"patch.txt", "-L"});
  }
  std::vector<std::string> Log() { return SplitLines(ReadFileBytes(g.dist + "updlog.txt"), "\r\n"); }
  std::vector<std::string> Head() {
    return {kRule, "Destination : " + dst, "Source : " + src};
  }
};

TEST(RecordsRun, PlainPackedAndFontRecordsReplaceAndKeep) {
  RecordRun r;
  r.Kit({"store", "create", r.src});
  r.Put(r.src, "0", "plain", Pattern(100, 1));
  r.Put(r.src, "1", "lz", std::string(5000, 'L'), "1");
  r.Put(r.src, "2", "rle", std::string(3000, 'R') + Pattern(100, 2), "2");
  r.Put(r.src, "2", "tiny", std::string(20, 't'), "1");  // below 32 bytes: stored unpacked
  r.Put(r.src, "255", "never", Pattern(40, 3));
  r.Kit({"store", "put-font", r.src, "arial", r.File(Dib(4, 2, 'a')), r.File(Dib(8, 3, 'b'))});
  r.Kit({"store", "put-font", r.src, "empty"});
  r.Kit({"store", "create", r.dst});
  r.Put(r.dst, "0", "plain", Pattern(900, 9));  // replaced
  r.Put(r.dst, "9", "keep", Pattern(70, 10));   // left as it is
  r.Kit({"store", "put-font", r.dst, "arial", r.File(Dib(4, 4, 'z'))});

  ProcessResult p = r.Update();
  ASSERT_EQ(0, p.status) << p.err;
  std::vector<std::string> expected = r.Head();
  for (const char* line : {
           "Sect = M_ANY , Name = plain, len = 100, pack = 0",
           "Sect = M_BMP , Name = lz, len = 5000, pack = 1",
           "Sect = M_WAV , Name = rle, len = 3100, pack = 2",
           "Sect = M_WAV , Name = tiny, len = 20, pack = 0",
           "For FNT arial, surf = 0, len = 64",
           "For FNT arial, surf = 1, len = 80",
           "Sect = M_FNT , Name = arial, len = 10, pack = 0",
           "Sect = M_FNT , Name = empty, len = 2, pack = 0",
           "Units updated = 8, Bytes updated = 8376",
       }) {
    expected.push_back(line);
  }
  EXPECT_EQ(expected, r.Log());

  EXPECT_EQ("ok\n", r.Kit({"store", "verify", r.dst}));
  std::string list = r.Kit({"store", "list", r.dst});
  std::vector<std::string> rows = SplitLines(list, "\n");
  ASSERT_EQ(7u, rows.size()) << list;
  EXPECT_EQ("0\tM_ANY \tplain\t100\t0\t100", rows[0]);
  EXPECT_EQ(0u, rows[1].find("1\tM_BMP \tlz\t"));
  EXPECT_NE(std::string::npos, rows[1].find("\t1\t5000"));
  EXPECT_EQ(0u, rows[2].find("2\tM_WAV \trle\t"));
  EXPECT_NE(std::string::npos, rows[2].find("\t2\t3100"));
  EXPECT_EQ("2\tM_WAV \ttiny\t20\t0\t20", rows[3]);
  EXPECT_EQ("3\tM_FNT \tempty\t2\t0\t2", rows[5]);
  EXPECT_EQ("9\tM_AME \tkeep\t70\t0\t70", rows[6]);

  EXPECT_EQ(Pattern(100, 1), r.Get(r.dst, "0", "plain"));
  EXPECT_EQ(std::string(5000, 'L'), r.Get(r.dst, "1", "lz"));
  EXPECT_EQ(std::string(3000, 'R') + Pattern(100, 2), r.Get(r.dst, "M_WAV", "rle"));
  EXPECT_EQ(Pattern(70, 10), r.Get(r.dst, "9", "keep"));
  r.Kit({"store", "get", r.dst, "255", "never", r.work + "x"}, 1);
  // The font table points at copies of the surfaces inside the destination.
  std::string table = r.Get(r.dst, "M_FNT", "arial");
  ASSERT_EQ(10u, table.size());
  std::string data = ReadFileBytes(r.g.game + "Data/UNITS.DKD");
  for (int i = 0; i < 2; ++i) {
    uint32_t offset = 0;
    for (int k = 0; k < 4; ++k) offset |= static_cast<uint32_t>(static_cast<uint8_t>(table[2 + 4 * i + k])) << (8 * k);
    std::string dib = i == 0 ? Dib(4, 2, 'a') : Dib(8, 3, 'b');
    ASSERT_LE(offset + dib.size(), data.size());
    EXPECT_EQ(dib, data.substr(offset, dib.size())) << i;
  }
  EXPECT_NE(std::string::npos, data.find(Dib(4, 4, 'z')));  // the old surface, unreferenced
}

TEST(RecordsRun, EverySectionButTheLast) {
  RecordRun r;
  r.Kit({"store", "create", r.src});
  int bytes = 0;
  for (int s = 0; s < 256; ++s) {
    // Section 3 holds fonts: this one has a surface count of 0.
    std::string bytesOf = s == 3 ? std::string(2, '\0') + Pattern(34, s) : Pattern(33 + s, s);
    r.Put(r.src, std::to_string(s), "s" + std::to_string(s), bytesOf);
  }
  r.Kit({"store", "create", r.dst});
  ProcessResult p = r.Update();
  ASSERT_EQ(0, p.status) << p.err;

  std::vector<std::string> log = r.Log();
  ASSERT_EQ(3u + 255u + 1u, log.size());
  EXPECT_EQ(r.Head(), std::vector<std::string>(log.begin(), log.begin() + 3));
  static const char* const kNamed[] = {"M_ANY ", "M_BMP ", "M_WAV ", "M_FNT ", "M_PCX ", "M_GIF ",
                                       "M_SPR ", "M_SSPR", "M_MSPR", "M_AME ", "M_AMAP"};
  for (int s = 0; s < 255; ++s) {
    char name[16];
    if (s <= 10) {
      std::snprintf(name, sizeof name, "%s", kNamed[s]);
    } else if (s == 128) {
      std::snprintf(name, sizeof name, "M_USER");
    } else if (s > 32) {
      std::snprintf(name, sizeof name, "%03d", s);
    } else {
      continue;  // the other named rows are checked by the unit tests
    }
    char line[96];
    std::snprintf(line, sizeof line, "Sect = %s, Name = s%d, len = %d, pack = 0", name, s, 33 + s);
    EXPECT_EQ(line, log[3 + s]);
  }
  for (int s = 0; s < 255; ++s) bytes += 33 + s;
  EXPECT_EQ("Units updated = 255, Bytes updated = " + std::to_string(bytes), log.back());

  EXPECT_EQ("ok\n", r.Kit({"store", "verify", r.dst}));
  EXPECT_EQ(255u, SplitLines(r.Kit({"store", "list", r.dst}), "\n").size());
  EXPECT_EQ("", r.Kit({"store", "list", r.dst, "--section", "255"}));
  EXPECT_EQ(Pattern(33 + 254, 254), r.Get(r.dst, "254", "s254"));
}

TEST(RecordsRun, MissingDestinationIsMessage3AndCreatesNothing) {
  RecordRun r;
  r.Kit({"store", "create", r.src});
  r.Put(r.src, "1", "a", Pattern(40, 1));
  ProcessResult p = r.Update();
  EXPECT_EQ(255, p.status);
  EXPECT_NE(std::string::npos, p.err.find("Error open file ")) << p.err;
  EXPECT_NE(std::string::npos, p.err.find(r.dst)) << p.err;
  std::vector<std::string> log = r.Log();
  ASSERT_GE(log.size(), 5u);
  EXPECT_EQ(r.Head(), std::vector<std::string>(log.begin(), log.begin() + 3));
  EXPECT_EQ(" ERROR ", log[3]);
  std::string text = ReadFileBytes(r.g.dist + "updlog.txt");
  EXPECT_NE(std::string::npos, text.find("Error open file ")) << text;
  EXPECT_NE(std::string::npos, text.find(r.dst)) << text;
  EXPECT_FALSE(fs::exists(r.dst));
  EXPECT_FALSE(fs::exists(r.g.game + "Data/UNITS.DKD"));
}

TEST(RecordsRun, DamagedSourceStopsWithAClearMessageAndTheDestinationStaysAsItWas) {
  {
    // A data file that is no store data file: the source cannot be opened.
    RecordRun r;
    r.Kit({"store", "create", r.src});
    r.Put(r.src, "1", "a", Pattern(40, 1));
    std::string dkd = ReadFileBytes(r.g.dist + "UNITS.DKD");
    dkd.replace(0, 4, "JUNK");
    WriteFileBytes(r.g.dist + "UNITS.DKD", dkd);
    r.Kit({"store", "create", r.dst});
    r.Put(r.dst, "5", "mine", Pattern(50, 5));
    ProcessResult p = r.Update();
    EXPECT_EQ(255, p.status);
    EXPECT_NE(std::string::npos, p.err.find("Error open file ")) << p.err;
    EXPECT_NE(std::string::npos, p.err.find(r.src)) << p.err;
    EXPECT_EQ("ok\n", r.Kit({"store", "verify", r.dst}));
    EXPECT_EQ("5\tM_GIF \tmine\t50\t0\t50\n", r.Kit({"store", "list", r.dst}));
  }
  {
    // A font whose surface offset leads nowhere: a read failure after the
    // records before it were written, which go with the store's copies.
    RecordRun r;
    r.Kit({"store", "create", r.src});
    r.Put(r.src, "1", "first", Pattern(40, 1));
    r.Put(r.src, "3", "bad", std::string("\x01\x00\xF0\xFF\xFF\x0F", 6));
    r.Put(r.src, "4", "after", Pattern(40, 4));
    r.Kit({"store", "create", r.dst});
    r.Put(r.dst, "9", "mine", Pattern(50, 9));
    const std::string index = ReadFileBytes(r.dst), data = ReadFileBytes(r.g.game + "Data/UNITS.DKD");
    ProcessResult p = r.Update();
    EXPECT_EQ(255, p.status);
    EXPECT_NE(std::string::npos, p.err.find("Error reading file ")) << p.err;
    EXPECT_NE(std::string::npos, p.err.find(r.src)) << p.err;
    std::vector<std::string> log = r.Log();
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ("Sect = M_BMP , Name = first, len = 40, pack = 0", log[3]);
    EXPECT_EQ(" ERROR ", log[4]);
    EXPECT_EQ(index, ReadFileBytes(r.dst));
    EXPECT_EQ(data, ReadFileBytes(r.g.game + "Data/UNITS.DKD"));
    EXPECT_EQ(2, std::distance(fs::directory_iterator(r.g.game + "Data"), fs::directory_iterator()));
  }
}

}  // namespace
