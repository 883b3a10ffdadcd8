// The real updater.exe running `file = "UNITS.DKX", 1;` with the real
// registry and its real dialogs, on record stores made by updkit.exe; the
// result is read back with `updkit store verify`, `list` and `get`. Needs a
// display (Xvfb under Wine).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/Ui.h"
#include "platform/testing/UiDriver.h"
#include "tests/support/Dib.h"
#include "tests/support/GameInstall.h"
#include "tests/support/Lines.h"
#include "tests/support/TestPaths.h"
#include "tests/support/UiDriver_win32.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// Record updates of stores made by updkit may take a while under Wine.
const int kWindowWaitMs = 60000;

struct RecordGame {
  TempDir dir;
  GameInstall g{dir.path()};
  std::string src = g.dist + "UNITS.DKX";
  std::string dst = g.game + "Data\\UNITS.DKX";
  int files = 0;
  RecordGame() {
    WriteMachineRegistry(g);
    g.Ship("patch.txt", "updatetype = 0\ndstpath = __DATA;\nfile = \"UNITS.DKX\", 1;\n");
    g.Ship("Report.txt", "records\r\n");
  }
  std::string Kit(const std::string& args, uint32_t status = 0) {
    uint32_t code;
    const std::string out = RunUpdkit("store " + args, dir / "kit.out", &code);
    EXPECT_EQ(status, code) << args << out;
    return out;
  }
  std::string File(const std::string& bytes) {
    std::string path = dir / ("f" + std::to_string(files++));
    WriteFileBytes(path, bytes);
    return Quote(path);
  }
  std::string Get(const std::string& store, const std::string& section, const std::string& name) {
    Kit("get " + Quote(store) + " " + section + " " + name + " " + Quote(dir / "got"));
    return ReadFileBytes(dir / "got");
  }
};

TEST(RecordsUi, RecordUpdateCompletesAndTheStoreHoldsExactlyTheRecords) {
  RecordGame t;
  const std::string lz(5000, 'L');
  const std::string rle = std::string(3000, 'R') + "tail of the record";
  t.Kit("create " + Quote(t.src));
  t.Kit("put " + Quote(t.src) + " 0 plain " + t.File("plain record bytes, forty of them.......") +
        " --pack 0");
  t.Kit("put " + Quote(t.src) + " 1 lz " + t.File(lz) + " --pack 1");
  t.Kit("put " + Quote(t.src) + " 2 rle " + t.File(rle) + " --pack 2");
  t.Kit("put " + Quote(t.src) + " 255 never " + t.File("never copied"));
  t.Kit("put-font " + Quote(t.src) + " arial " + t.File(Dib(4, 2, 'a')) + " " +
        t.File(Dib(8, 3, 'b')));
  t.Kit("create " + Quote(t.dst));
  t.Kit("put " + Quote(t.dst) + " 9 keep " + t.File("kept as it is"));

  UpdaterProcess u(t.g, "patch.txt -L");
  WindowId done = u.Window(" DONE ", IsCompletion, kWindowWaitMs);
  ASSERT_NE(plat::kNoWindow, done) << "no completion dialog";
  Press(done, plat::kIdCancel);
  EXPECT_EQ(0u, u.Exit());

  const std::string expected = kLogRule + "\r\nDestination : " + t.dst + "\r\nSource : " + t.src +
                               "\r\n"
                               "Sect = M_ANY , Name = plain, len = 40, pack = 0\r\n"
                               "Sect = M_BMP , Name = lz, len = 5000, pack = 1\r\n"
                               "Sect = M_WAV , Name = rle, len = 3018, pack = 2\r\n"
                               "For FNT arial, surf = 0, len = 64\r\n"
                               "For FNT arial, surf = 1, len = 80\r\n"
                               "Sect = M_FNT , Name = arial, len = 10, pack = 0\r\n"
                               "Units updated = 6, Bytes updated = 8212\r\n";
  EXPECT_EQ(expected, ReadFileBytes(t.g.dist + "updlog.txt"));

  EXPECT_EQ("ok\r\n", t.Kit("verify " + Quote(t.dst)));
  std::string list = t.Kit("list " + Quote(t.dst));
  EXPECT_EQ(0u, list.find("0\tM_ANY \tplain\t40\t0\t40\r\n1\tM_BMP \tlz\t")) << list;
  EXPECT_NE(std::string::npos, list.find("\t1\t5000\r\n2\tM_WAV \trle\t")) << list;
  EXPECT_NE(std::string::npos,
            list.find("\t2\t3018\r\n3\tM_FNT \tarial\t10\t0\t10\r\n9\tM_AME \tkeep\t13\t0\t13\r\n"))
      << list;
  EXPECT_EQ(lz, t.Get(t.dst, "1", "lz"));
  EXPECT_EQ(rle, t.Get(t.dst, "2", "rle"));
  EXPECT_EQ("kept as it is", t.Get(t.dst, "9", "keep"));
  t.Kit("get " + Quote(t.dst) + " 255 never " + Quote(t.dir / "x"), 1);
}

TEST(RecordsUi, MissingDestinationShowsErrorOpenFile) {
  RecordGame t;
  t.Kit("create " + Quote(t.src));
  t.Kit("put " + Quote(t.src) + " 1 a " + t.File("a record of some length, over 32 bytes"));
  const std::string text = UpdaterProcess(t.g, "patch.txt").ErrorToTheEnd(kWindowWaitMs);
  EXPECT_EQ(0u, text.find("Processing file : patch.txt\nLine : 0003\nError open file ")) << text;
  EXPECT_NE(std::string::npos, text.find(t.dst)) << text;
  EXPECT_FALSE(fs::exists(t.dst));
}

TEST(RecordsUi, DamagedSourceShowsErrorReadingFileAndTheDestinationStaysAsItWas) {
  RecordGame t;
  t.Kit("create " + Quote(t.src));
  t.Kit("put " + Quote(t.src) + " 1 first " +
        t.File("the first record is copied before the damage"));
  t.Kit("put " + Quote(t.src) + " 3 bad " + t.File(std::string("\x01\x00\xF0\xFF\xFF\x0F", 6)));
  t.Kit("create " + Quote(t.dst));
  t.Kit("put " + Quote(t.dst) + " 9 mine " + t.File("the game's own record, kept as it is"));
  const std::string text = UpdaterProcess(t.g, "patch.txt").ErrorToTheEnd(kWindowWaitMs);
  EXPECT_NE(std::string::npos, text.find("Error reading file ")) << text;
  EXPECT_NE(std::string::npos, text.find(t.src)) << text;
  EXPECT_EQ("ok\r\n", t.Kit("verify " + Quote(t.dst)));
  // The record written before the damage went with the store's copies.
  EXPECT_EQ("9\tM_AME \tmine\t36\t0\t36\r\n", t.Kit("list " + Quote(t.dst)));
}

}  // namespace
