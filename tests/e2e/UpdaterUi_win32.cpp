// The real updater.exe with the real registry and its real dialogs: this
// test program is the user. It starts the updater, finds its windows, reads
// their texts and presses their buttons. Needs a display (Xvfb under Wine).
//
// The same program doubles as the game: copied as MX.exe into the game
// folder (or as My.exe, a program the game must never be mistaken for), it
// records its command line in started.txt beside itself and ends.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Ui.h"
#include "platform/testing/UiDriver.h"
#include "tests/support/GameInstall.h"
#include "tests/support/Lines.h"
#include "tests/support/TestPaths.h"
#include "tests/support/UiDriver_win32.h"

using namespace testing_support;
using plat::kIdCancel;
using plat::kIdNo;
using plat::kIdOk;
using plat::kIdYes;
using plat::kMessageBoxTextId;
using plat::kNoWindow;
namespace fs = std::filesystem;

namespace {

bool SameNameNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// Runs before main: when started as the game, record and leave.
const bool g_gameStandIn = [] {
  std::string path;
  if (plat::OwnProgramPath(&path) != 0) return false;
  const size_t slash = path.find_last_of('\\');
  if (slash == std::string::npos) return false;
  const std::string name = path.substr(slash + 1);
  if (!SameNameNoCase(name, "MX.exe") && !SameNameNoCase(name, "My.exe")) return false;
  std::string line;
  plat::OwnCommandLine(&line);
  {
    std::ofstream record(path.substr(0, slash + 1) + "started.txt",
                         std::ios::binary | std::ios::trunc);
    record << line;
  }
  // As ExitProcess: nothing of this program's own runs.
  std::_Exit(0);
}();

const char kReport[] = "Update to 1.003.000\r\n- new units\r\n";

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string StandIn() {
  return (fs::path(UpdaterPath()).parent_path().parent_path() / "tests" / "test_e2e.exe").string();
}

struct Game {
  TempDir dir;
  GameInstall g;
  explicit Game(const std::string& gameFolder = "game") : g(dir.path(), true, gameFolder) {
    WriteMachineRegistry(g);
    fs::copy_file(StandIn(), g.game + "MX.exe");
  }
  bool Started(std::string* commandLine, int tries) {
    for (int i = 0; i < tries; ++i) {
      if (fs::exists(g.game + "started.txt")) {
        Pause(100);
        *commandLine = ReadFileBytes(g.game + "started.txt");
        return true;
      }
      Pause(50);
    }
    return false;
  }
};

TEST(UpdaterUi, ProgressCompletionAndStartTheGame) {
  Game t;
  t.g.Ship("patch.txt",
           "updatetype = 1\nsetbuild = 3\ndstpath = __MAIN;\nfile = \"BIG.DAT\", 0\n"
           "dstpath = __DATA + \"SUB\\\\\";\nfile = \"A.TXT\", 0\n");
  t.g.Ship("BIG.DAT", std::string(96 << 20, 'x'));
  t.g.Ship("A.TXT", "hello");
  t.g.Ship("Report.txt", kReport);
  UpdaterProcess u(t.g, "patch.txt -L -R-skipintro");

  WindowId progress = u.Window(kProgressCaption);
  ASSERT_NE(kNoWindow, progress) << "no progress dialog";
  const std::string source = ItemText(progress, kSourceText);
  EXPECT_TRUE(source.empty() || source == t.g.dist + "BIG.DAT" || source == t.g.dist + "A.TXT")
      << source;
  EXPECT_EQ("Cancel", ItemText(progress, kIdCancel));

  WindowId done = u.Window(" DONE ", IsCompletion);
  ASSERT_NE(kNoWindow, done) << "no completion dialog";
  EXPECT_EQ(kNoWindow, u.Window(kProgressCaption, nullptr, 10));  // gone by now
  EXPECT_EQ("The game has been updated successfully !\nNew version is  1.003.000  ",
            ItemText(done, kCompletionText));
  EXPECT_EQ(kReport, ItemText(done, kReportText));
  EXPECT_EQ("&Start the game", ItemText(done, kIdOk));
  EXPECT_EQ("E&xit", ItemText(done, kIdCancel));
  Press(done, kIdOk);
  EXPECT_EQ(0u, u.Exit());

  EXPECT_EQ("hello", ReadFileBytes(t.g.game + "Data\\SUB\\A.TXT"));
  EXPECT_EQ(static_cast<size_t>(96 << 20), fs::file_size(t.g.game + "BIG.DAT"));
  EXPECT_EQ(0x01030000u, VersionDword("Version"));
  std::string commandLine;
  ASSERT_TRUE(t.Started(&commandLine, 100));
  EXPECT_EQ(" -skipintro", commandLine.substr(commandLine.size() - 11)) << commandLine;

  std::string log = ReadFileBytes(t.g.dist + "updlog.txt");
  EXPECT_EQ(kLogRule + "\r\nDestination : " + t.g.game + "BIG.DAT\r\nSource : " + t.g.dist +
                "BIG.DAT\r\nCopyed bytes - " + std::to_string(96 << 20) + "\r\n" + kLogRule +
                "\r\nDestination : " + t.g.game + "Data\\SUB\\A.TXT\r\nSource : " + t.g.dist +
                "A.TXT\r\nCopyed bytes - 5\r\n",
            log);
}

// The Cancel button, the Escape key and the close box all cancel the run.
TEST(UpdaterUi, CancelShowsUserBreak) {
  enum Way { kButton, kEscape, kCloseBox };
  for (Way way : {kButton, kEscape, kCloseBox}) {
    Game t;
    t.g.ShipSlowUpdate(10, 64 << 20, kReport);
    UpdaterProcess u(t.g, "patch.txt");
    WindowId progress = u.Window(kProgressCaption);
    ASSERT_NE(kNoWindow, progress) << way;
    switch (way) {
      case kButton:
        Press(progress, kIdCancel);
        break;
      case kEscape:  // IsDialogMessage turns it into IDCANCEL
        EXPECT_EQ(0, plat::PostKey(plat::ControlOf(progress, kIdCancel), plat::UiKey::Escape));
        break;
      case kCloseBox:
        EXPECT_EQ(0, plat::PressCloseBox(progress));
        break;
    }
    WindowId box = u.Window(" ERROR ", IsMessageBox);
    ASSERT_NE(kNoWindow, box) << "no error box " << way;
    const std::string text = ItemText(box, kMessageBoxTextId);
    EXPECT_EQ(0u, text.find("Processing file : patch.txt\nLine : ")) << text;
    EXPECT_NE(std::string::npos, text.find("\nUser`s break  ")) << text;
    EXPECT_EQ(kNoWindow, u.Window(kProgressCaption, nullptr, 10));  // closed by the cancel
    Press(box, kIdOk);
    EXPECT_EQ(0xFFFFFFFFu, u.Exit()) << way;
    EXPECT_EQ(0x01020005u, VersionDword("Version"));  // unchanged
    EXPECT_FALSE(fs::exists(t.g.game + "D9\\BIG.DAT"));
  }
}

TEST(UpdaterUi, ScriptErrorBox) {
  Game t;
  t.g.Ship("patch.txt", "\nupdatetype = 2;\n");
  UpdaterProcess u(t.g, "patch.txt");
  EXPECT_EQ("Processing file : patch.txt\nLine : 0002\nUnknown or invalid parameter ; ",
            u.ErrorToTheEnd());
}

TEST(UpdaterUi, ExitAndTheQuestionWithoutReport) {
  {
    Game t;
    t.g.Ship("patch.txt", "updatetype = 0\n");
    t.g.Ship("Report.txt", "");
    UpdaterProcess u(t.g, "patch.txt");
    WindowId done = u.Window(" DONE ", IsCompletion);
    ASSERT_NE(kNoWindow, done);
    EXPECT_EQ("", ItemText(done, kReportText));
    Press(done, kIdCancel);
    EXPECT_EQ(0u, u.Exit());
    std::string commandLine;
    EXPECT_FALSE(t.Started(&commandLine, 20));
  }
  // Without a report the completion is a question: No leaves the game alone,
  // Yes starts it (without -R its command line ends in one blank).
  for (int answer : {kIdNo, kIdYes}) {
    Game t;
    t.g.Ship("patch.txt", "updatetype = 0\n");
    UpdaterProcess u(t.g, "patch.txt");
    WindowId box = u.Window(" DONE ", IsMessageBox);
    ASSERT_NE(kNoWindow, box) << "no question";
    EXPECT_EQ(
        "The game has been updated successfully !\nNew version is  1.002.005  \n\nDo you want to "
        "start the game? ",
        ItemText(box, kMessageBoxTextId));
    Press(box, answer);
    EXPECT_EQ(0u, u.Exit());
    std::string commandLine;
    if (answer == kIdNo) {
      EXPECT_FALSE(t.Started(&commandLine, 20));
    } else {
      ASSERT_TRUE(t.Started(&commandLine, 100));
      EXPECT_EQ("\"" + t.g.game + "MX.exe\" ", commandLine);
    }
  }
}

// Exactly MainPath + MX.exe starts: with blanks in the path, "<root>My.exe"
// would be tried first if the path were not quoted.
TEST(UpdaterUi, GameInAFolderWithBlanksStartsAndNoPrefixOfIt) {
  Game t("My Game");
  fs::copy_file(StandIn(), t.g.root + "My.exe");
  t.g.Ship("patch.txt", "updatetype = 0\n");
  t.g.Ship("Report.txt", "");
  UpdaterProcess u(t.g, "patch.txt \"-R-name \\\"Player One\\\"\"");
  WindowId done = u.Window(" DONE ", IsCompletion);
  ASSERT_NE(kNoWindow, done);
  Press(done, kIdOk);
  EXPECT_EQ(0u, u.Exit());
  std::string commandLine;
  EXPECT_TRUE(t.Started(&commandLine, 100));
  EXPECT_EQ("\"" + t.g.game + "MX.exe\" -name \"Player One\"", commandLine);
  EXPECT_FALSE(fs::exists(t.g.root + "started.txt")) << ReadFileBytes(t.g.root + "started.txt");
}

// The update has succeeded; a game that is not there is reported by name.
TEST(UpdaterUi, GameThatCannotStartIsReported) {
  Game t;
  fs::remove(t.g.game + "MX.exe");
  t.g.Ship("patch.txt", "updatetype = 0\n");
  UpdaterProcess u(t.g, "patch.txt");
  WindowId question = u.Window(" DONE ", IsMessageBox);
  ASSERT_NE(kNoWindow, question);
  Press(question, kIdYes);
  WindowId box = u.Window(" ERROR ", IsMessageBox);
  ASSERT_NE(kNoWindow, box);
  EXPECT_EQ("Error starting program " + t.g.game + "MX.exe", ItemText(box, kMessageBoxTextId));
  Press(box, kIdOk);
  EXPECT_EQ(0u, u.Exit());
}

}  // namespace
