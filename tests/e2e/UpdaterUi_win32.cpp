// The real updater.exe with the real registry and its real dialogs: this
// test program is the user. It starts the updater, finds its windows, reads
// their texts and presses their buttons. Needs a display (Xvfb under Wine).
//
// The same program doubles as the game: copied as MX.exe into the game
// folder (or as My.exe, a program the game must never be mistaken for), it
// records its command line in started.txt beside itself and ends.
#include <gtest/gtest.h>

#include <algorithm>
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

// A report longer than its box, with a line wider than it.
std::string LongReport() {
  std::string report = "Update to 1.003.000\r\n";
  for (int i = 1; i <= 40; ++i) report += "- change " + std::to_string(i) + "\r\n";
  return report + "- " + std::string(300, 'w') + "\r\n";
}

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string StandIn() {
  return (fs::path(UpdaterPath()).parent_path().parent_path() / "tests" / "test_e2e.exe").string();
}

// True once w is the window the user works in and its caption is drawn
// active (within two seconds).
bool BecomesActive(WindowId w) {
  for (int i = 0; i < 200; ++i, Pause(10)) {
    bool active = false;
    if (plat::ForegroundWindow() == w && plat::CaptionDrawnActive(w, &active) == 0 && active)
      return true;
  }
  return false;
}

// The child of dialog that shows text (the labels all have the id -1).
WindowId ChildShowing(WindowId dialog, const std::string& text) {
  for (WindowId w : plat::ChildrenTopDown(dialog)) {
    if (plat::WindowText(w) == text) return w;
  }
  return kNoWindow;
}

// The progress dialog as the player reads it, measured in the dialog's own
// font: every label on one line and a count of ten digits in each counter;
// the box behind the counters below them and clipped by them, so that
// repainting it (a click in it) does not blank them; paths shortened in the
// middle, keeping the file name.
void ExpectProgressReadable(WindowId progress) {
  plat::DialogFont font("MS Sans Serif", 8);
  ASSERT_EQ(0, font.Error());
  int width = 0, height = 0;
  // The font is the dialog's: its 50 x 14 units are the Cancel button's pixels.
  ASSERT_EQ(0, plat::ClientSize(plat::ControlOf(progress, kIdCancel), &width, &height));
  ASSERT_EQ(font.UnitsX(50), width);
  ASSERT_EQ(font.UnitsY(14), height);
  const struct {
    WindowId control;
    std::string text;
  } shown[] = {
      {ChildShowing(progress, "Source  file :"), "Source  file :"},
      {ChildShowing(progress, "Destination  file :"), "Destination  file :"},
      {ChildShowing(progress, "Files updated:"), "Files updated:"},
      {ChildShowing(progress, "Units updated :"), "Units updated :"},
      {ChildShowing(progress, "Bytes updated :"), "Bytes updated :"},
      {plat::ControlOf(progress, kFilesCounter), "4294967295"},
      {plat::ControlOf(progress, kUnitsCounter), "4294967295"},
      {plat::ControlOf(progress, kBytesCounter), "4294967295"},
  };
  for (const auto& s : shown) {
    ASSERT_NE(kNoWindow, s.control) << s.text;
    int textWidth = 0, textHeight = 0;
    ASSERT_EQ(0, font.TextSize(s.text, &textWidth, &textHeight));
    ASSERT_EQ(0, plat::ClientSize(s.control, &width, &height));
    EXPECT_LE(textWidth, width) << s.text;
    EXPECT_LE(textHeight, height) << s.text;
  }

  const std::vector<WindowId> z = plat::ChildrenTopDown(progress);
  const auto depth = [&z](WindowId w) { return std::find(z.begin(), z.end(), w) - z.begin(); };
  const WindowId frame = plat::ControlOf(progress, kCounterFrame);
  for (int id : {kFilesCounter, kUnitsCounter, kBytesCounter}) {
    EXPECT_LT(depth(plat::ControlOf(progress, id)), depth(frame)) << id;
  }
  EXPECT_NE(0u, plat::WindowStyle(frame) & plat::kWsClipSiblings);

  for (int id : {kSourceText, kDestinationText}) {
    const WindowId path = plat::ControlOf(progress, id);
    EXPECT_EQ("Static", plat::ClassOf(path)) << id;
    EXPECT_EQ(plat::kSsPathEllipsis, plat::WindowStyle(path) & plat::kSsEllipsisMask) << id;
  }
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
  const std::string report = LongReport();
  t.g.Ship("Report.txt", report);
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
  EXPECT_EQ(report, ItemText(done, kReportText));
  // Once the report has the focus it is all selected and shown from its
  // first line; its widest line can be scrolled to.
  const WindowId reportBox = plat::ControlOf(done, kReportText);
  EXPECT_NE(0u, plat::WindowStyle(reportBox) & plat::kWsHScroll);
  int firstLine = -1, selStart = -1, selEnd = -1;
  for (int i = 0; i < 200; ++i, Pause(10)) {
    if (plat::EditView(reportBox, &firstLine, &selStart, &selEnd) == 0 &&
        selEnd == static_cast<int>(report.size()))
      break;
  }
  EXPECT_EQ(0, selStart);
  EXPECT_EQ(static_cast<int>(report.size()), selEnd);
  EXPECT_EQ(0, firstLine);
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
// The dialog stays until the run has ended: the box saying so is in front
// of it, owned by it.
TEST(UpdaterUi, CancelShowsUserBreak) {
  enum Way { kButton, kEscape, kCloseBox };
  for (Way way : {kButton, kEscape, kCloseBox}) {
    Game t;
    t.g.ShipSlowUpdate(10, 64 << 20, kReport);
    UpdaterProcess u(t.g, "patch.txt");
    WindowId progress = u.Window(kProgressCaption);
    ASSERT_NE(kNoWindow, progress) << way;
    if (way == kButton) {
      EXPECT_TRUE(BecomesActive(progress));
    }
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
    EXPECT_EQ(progress, u.Window(kProgressCaption, nullptr, 10)) << way;
    EXPECT_EQ(progress, plat::OwnerOf(box)) << way;
    if (way == kButton) {
      ExpectProgressReadable(progress);
    }
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
