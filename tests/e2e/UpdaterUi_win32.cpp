// The real updater.exe with the real registry and its real dialogs: this
// test program is the user. It starts the updater, finds its windows, reads
// their texts and presses their buttons. Needs a display (Xvfb under Wine).
//
// The same program doubles as the game: copied as MX.exe into the game
// folder, it records its command line in started.txt and ends.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/GameInstall.h"
#include "tests/support/TestPaths.h"
#include "tests/support/UiDriver_win32.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// Runs before main: when started as the game, record and leave.
const bool g_gameStandIn = [] {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  const char* name = std::strrchr(path, '\\');
  if (name == nullptr || _stricmp(name + 1, "MX.exe") != 0) return false;
  std::string record = std::string(path, static_cast<size_t>(name + 1 - path)) + "started.txt";
  HANDLE h = CreateFileA(record.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD put = 0;
  const char* line = GetCommandLineA();
  WriteFile(h, line, static_cast<DWORD>(std::strlen(line)), &put, nullptr);
  CloseHandle(h);
  ExitProcess(0);
}();

const char kVersionKey[] = "SOFTWARE\\Varnholt\\Marovex\\Version";
const char kReport[] = "Update to 1.003.000\r\n- new units\r\n";

DWORD QueryDword(const char* name) {
  HKEY key;
  DWORD v = 0xFFFFFFFF, size = sizeof v;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kVersionKey, &key) != ERROR_SUCCESS) return v;
  RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size);
  RegCloseKey(key);
  return v;
}

const char kProgressCaption[] = "MX Updater Version 2.2 ";

struct Game {
  TempDir dir;
  GameInstall g{dir.path()};
  Game() {
    WriteMachineRegistry(g);
    fs::copy_file(fs::path(UpdaterPath()).parent_path().parent_path() / "tests" / "test_e2e.exe",
                  g.game + "MX.exe");
  }
  bool Started(std::string* commandLine, int tries) {
    for (int i = 0; i < tries; ++i) {
      if (fs::exists(g.game + "started.txt")) {
        Sleep(100);
        *commandLine = ReadFileBytes(g.game + "started.txt");
        return true;
      }
      Sleep(50);
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

  HWND progress = u.Window(kProgressCaption);
  ASSERT_NE(nullptr, progress) << "no progress dialog";
  const std::string source = ItemText(progress, 1000);
  EXPECT_TRUE(source.empty() || source == t.g.dist + "BIG.DAT" || source == t.g.dist + "A.TXT") << source;
  EXPECT_EQ("Cancel", ItemText(progress, IDCANCEL));

  HWND done = u.Window(" DONE ", IsCompletion);
  ASSERT_NE(nullptr, done) << "no completion dialog";
  EXPECT_EQ(nullptr, u.Window(kProgressCaption, nullptr, 10));  // gone by now
  EXPECT_EQ("The game has been updated successfully !\nNew version is  1.003.000  ", ItemText(done, 1007));
  EXPECT_EQ(kReport, ItemText(done, 1000));
  EXPECT_EQ("&Start the game", ItemText(done, IDOK));
  EXPECT_EQ("E&xit", ItemText(done, IDCANCEL));
  Press(done, IDOK);
  EXPECT_EQ(0u, u.Exit());

  EXPECT_EQ("hello", ReadFileBytes(t.g.game + "Data\\SUB\\A.TXT"));
  EXPECT_EQ(static_cast<size_t>(96 << 20), fs::file_size(t.g.game + "BIG.DAT"));
  EXPECT_EQ(0x01030000u, QueryDword("Version"));
  std::string commandLine;
  ASSERT_TRUE(t.Started(&commandLine, 100));
  EXPECT_EQ(" -skipintro", commandLine.substr(commandLine.size() - 11)) << commandLine;

  std::string log = ReadFileBytes(t.g.dist + "updlog.txt");
  EXPECT_EQ(std::string(75, '=') + "\r\nDestination : " + t.g.game + "BIG.DAT\r\nSource : " + t.g.dist +
                "BIG.DAT\r\nCopyed bytes - " + std::to_string(96 << 20) + "\r\n" + std::string(75, '=') +
                "\r\nDestination : " + t.g.game + "Data\\SUB\\A.TXT\r\nSource : " + t.g.dist +
                "A.TXT\r\nCopyed bytes - 5\r\n",
            log);
}

// The Cancel button, the Escape key and the close box all cancel the run.
TEST(UpdaterUi, CancelShowsUserBreak) {
  enum Way { kButton, kEscape, kCloseBox };
  for (Way way : {kButton, kEscape, kCloseBox}) {
    Game t;
    std::string script = "updatetype = 0\nsetversion = 9\n";
    for (int i = 0; i < 10; ++i) {
      script += "dstpath = __MAIN + \"D" + std::to_string(i) + "\\\\\";\nfile = \"BIG.DAT\", 0\n";
    }
    t.g.Ship("patch.txt", script);
    t.g.Ship("BIG.DAT", std::string(64 << 20, 'x'));
    t.g.Ship("Report.txt", kReport);
    UpdaterProcess u(t.g, "patch.txt");
    HWND progress = u.Window(kProgressCaption);
    ASSERT_NE(nullptr, progress) << way;
    switch (way) {
      case kButton:
        Press(progress, IDCANCEL);
        break;
      case kEscape:  // IsDialogMessage turns it into IDCANCEL
        PostMessageA(GetDlgItem(progress, IDCANCEL), WM_KEYDOWN, VK_ESCAPE, 0);
        break;
      case kCloseBox:
        PostMessageA(progress, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    }
    HWND box = u.Window(" ERROR ", IsMessageBox);
    ASSERT_NE(nullptr, box) << "no error box " << way;
    const std::string text = ItemText(box, 0xFFFF);
    EXPECT_EQ(0u, text.find("Processing file : patch.txt\nLine : ")) << text;
    EXPECT_NE(std::string::npos, text.find("\nUser`s break  ")) << text;
    EXPECT_EQ(nullptr, u.Window(kProgressCaption, nullptr, 10));  // closed by the cancel
    Press(box, IDOK);
    EXPECT_EQ(0xFFFFFFFFu, u.Exit()) << way;
    EXPECT_EQ(0x01020005u, QueryDword("Version"));  // unchanged
    EXPECT_FALSE(fs::exists(t.g.game + "D9\\BIG.DAT"));
  }
}

TEST(UpdaterUi, ScriptErrorBox) {
  Game t;
  t.g.Ship("patch.txt", "\nupdatetype = 2;\n");
  UpdaterProcess u(t.g, "patch.txt");
  HWND box = u.Window(" ERROR ", IsMessageBox);
  ASSERT_NE(nullptr, box);
  EXPECT_EQ("Processing file : patch.txt\nLine : 0002\nUnknown or invalid parameter ; ", ItemText(box, 0xFFFF));
  Press(box, IDOK);
  EXPECT_EQ(0xFFFFFFFFu, u.Exit());
}

TEST(UpdaterUi, ExitAndTheQuestionWithoutReport) {
  {
    Game t;
    t.g.Ship("patch.txt", "updatetype = 0\n");
    t.g.Ship("Report.txt", "");
    UpdaterProcess u(t.g, "patch.txt");
    HWND done = u.Window(" DONE ", IsCompletion);
    ASSERT_NE(nullptr, done);
    EXPECT_EQ("", ItemText(done, 1000));
    Press(done, IDCANCEL);
    EXPECT_EQ(0u, u.Exit());
    std::string commandLine;
    EXPECT_FALSE(t.Started(&commandLine, 20));
  }
  {
    Game t;
    t.g.Ship("patch.txt", "updatetype = 0\n");
    UpdaterProcess u(t.g, "patch.txt");
    HWND box = u.Window(" DONE ", IsMessageBox);
    ASSERT_NE(nullptr, box) << "no question";
    EXPECT_EQ(
        "The game has been updated successfully !\nNew version is  1.002.005  \n\nDo you want to start the game? ",
        ItemText(box, 0xFFFF));
    Press(box, IDNO);
    EXPECT_EQ(0u, u.Exit());
    std::string commandLine;
    EXPECT_FALSE(t.Started(&commandLine, 20));
  }
  {
    // Yes starts the game; without -R its command line ends in one blank.
    Game t;
    t.g.Ship("patch.txt", "updatetype = 0\n");
    UpdaterProcess u(t.g, "patch.txt");
    HWND box = u.Window(" DONE ", IsMessageBox);
    ASSERT_NE(nullptr, box) << "no question";
    Press(box, IDYES);
    EXPECT_EQ(0u, u.Exit());
    std::string commandLine;
    ASSERT_TRUE(t.Started(&commandLine, 100));
    EXPECT_EQ(t.g.game + "MX.exe ", commandLine);
  }
}

}  // namespace
