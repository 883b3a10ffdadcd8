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

const char kDirectories[] = "SOFTWARE\\Varnholt\\Marovex\\Directories";
const char kVersionKey[] = "SOFTWARE\\Varnholt\\Marovex\\Version";
const char kReport[] = "Update to 1.003.000\r\n- new units\r\n";

void SetText(HKEY key, const char* name, const std::string& text) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
}
void SetDword(HKEY key, const char* name, DWORD v) {
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
}
DWORD QueryDword(const char* name) {
  HKEY key;
  DWORD v = 0xFFFFFFFF, size = sizeof v;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kVersionKey, &key) != ERROR_SUCCESS) return v;
  RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size);
  RegCloseKey(key);
  return v;
}

// The registry as the game's installer leaves it, for the game in g.
void WriteRegistry(const GameInstall& g) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, kDirectories, &key));
  SetText(key, "MainPath", g.game);
  SetText(key, "VideoPath", g.game + "Video\\");
  SetText(key, "DataPath", g.game + "Data\\");
  SetText(key, "SoundPath", g.game + "Sound\\");
  SetText(key, "MusicPath", g.game + "Music\\");
  SetText(key, "InstPath", g.dist);
  RegCloseKey(key);
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, kVersionKey, &key));
  SetDword(key, "Version", g.version);
  SetDword(key, "Type", g.type);
  SetText(key, "Folder", "Marovex");
  SetText(key, "LastPlayer", "Player One");
  SetDword(key, "CharSet", 1);
  SetText(key, "Server", g.server);
  RegCloseKey(key);
}

// A window's text, also of an edit control in the updater's process.
std::string Text(HWND w) {
  char buf[4096] = "";
  DWORD_PTR got = 0;
  SendMessageTimeoutA(w, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_NORMAL, 5000, &got);
  return buf;
}
std::string ItemText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }

struct Updater {
  PROCESS_INFORMATION pi{};
  explicit Updater(const GameInstall& g, const std::string& args) {
    std::string cmd = "\"" + g.Updater() + "\" " + args;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    EXPECT_TRUE(CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, g.dist.c_str(),
                               &si, &pi));
  }
  ~Updater() {
    if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  // A visible top-level window of the updater with this caption, for which
  // accept says yes; null after the timeout or when the updater has ended.
  HWND Window(const std::string& caption, bool (*accept)(HWND) = nullptr, int timeoutMs = 30000) {
    struct Search {
      DWORD pid;
      std::string caption;
      bool (*accept)(HWND);
      HWND found;
    } s{pi.dwProcessId, caption, accept, nullptr};
    for (int waited = 0; waited < timeoutMs; waited += 10) {
      EnumWindows(
          [](HWND w, LPARAM p) -> BOOL {
            Search* s = reinterpret_cast<Search*>(p);
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            char title[256] = "";
            GetWindowTextA(w, title, sizeof title);
            if (pid == s->pid && IsWindowVisible(w) && s->caption == title &&
                (s->accept == nullptr || s->accept(w))) {
              s->found = w;
              return FALSE;
            }
            return TRUE;
          },
          reinterpret_cast<LPARAM>(&s));
      if (s.found != nullptr) return s.found;
      if (WaitForSingleObject(pi.hProcess, 10) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
  }
  DWORD Exit(int timeoutMs = 60000) {
    DWORD code = 12345;
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    return code;
  }
};

// Pressing a button: the WM_COMMAND that its click sends to the dialog.
void Press(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

bool IsCompletion(HWND w) { return GetDlgItem(w, 1007) != nullptr; }
bool IsMessageBox(HWND w) { return GetDlgItem(w, 0xFFFF) != nullptr; }

const char kProgressCaption[] = "MX Updater Version 2.2 ";

struct Game {
  TempDir dir;
  GameInstall g{dir.path()};
  Game() {
    WriteRegistry(g);
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
  Updater u(t.g, "patch.txt -L -R-skipintro");

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
    Updater u(t.g, "patch.txt");
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
  Updater u(t.g, "patch.txt");
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
    Updater u(t.g, "patch.txt");
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
    Updater u(t.g, "patch.txt");
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
    Updater u(t.g, "patch.txt");
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
