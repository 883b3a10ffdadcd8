// The real updater.exe running `file = "UNITS.DKX", 1;` with the real
// registry and its real dialogs, on record stores made by updkit.exe; the
// result is read back with `updkit store verify`, `list` and `get`. Needs a
// display (Xvfb under Wine).
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/GameInstall.h"
#include "tests/support/TestPaths.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const char kDirectories[] = "SOFTWARE\\Varnholt\\Marovex\\Directories";
const char kVersionKey[] = "SOFTWARE\\Varnholt\\Marovex\\Version";
const char kRule[] = "===========================================================================";

void SetText(HKEY key, const char* name, const std::string& text) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
}
void SetDword(HKEY key, const char* name, DWORD v) {
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
}

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

std::string Quote(const std::string& arg) { return "\"" + arg + "\""; }

// Runs a command line with standard output into a file; the exit code, and
// what it wrote in *out.
DWORD RunCaptured(const std::string& commandLine, const std::string& outFile, std::string* out) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE file = CreateFileA(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, file);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = file;
  si.hStdError = file;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  std::string cmd = commandLine;
  DWORD code = 12345;
  if (CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    WaitForSingleObject(pi.hProcess, 120000);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(file);
  *out = ReadFileBytes(outFile);
  return code;
}

std::string Text(HWND w) {
  char buf[4096] = "";
  DWORD_PTR got = 0;
  SendMessageTimeoutA(w, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_NORMAL, 5000, &got);
  return buf;
}

void Press(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

bool IsCompletion(HWND w) { return GetDlgItem(w, 1007) != nullptr; }
bool IsMessageBox(HWND w) { return GetDlgItem(w, 0xFFFF) != nullptr; }

struct Updater {
  PROCESS_INFORMATION pi{};
  explicit Updater(const GameInstall& g, const std::string& args) {
    std::string cmd = Quote(g.Updater()) + " " + args;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    EXPECT_TRUE(CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, g.dist.c_str(), &si, &pi));
  }
  ~Updater() {
    if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  // A visible top-level window of the updater with this caption that accept
  // takes; null after the timeout or when the updater has ended.
  HWND Window(const std::string& caption, bool (*accept)(HWND), int timeoutMs = 60000) {
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
            if (pid == s->pid && IsWindowVisible(w) && s->caption == title && s->accept(w)) {
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

std::string Dib(int width, int height, char fill) {
  int row = (8 * width + 31) / 32 * 4;
  std::string b(40 + 16 + row * height, fill);
  std::fill(b.begin(), b.begin() + 40, '\0');
  auto put = [&](int at, unsigned v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
  };
  put(0, 40);
  put(4, width);
  put(8, height);
  b[12] = 1;
  b[14] = 8;
  put(32, 4);
  return b;
}

struct RecordGame {
  TempDir dir;
  GameInstall g{dir.path()};
  std::string src = g.dist + "UNITS.DKX";
  std::string dst = g.game + "Data\\UNITS.DKX";
  int files = 0;
  RecordGame() {
    WriteRegistry(g);
    g.Ship("patch.txt", "updatetype = 0\ndstpath = __DATA;\nfile = \"UNITS.DKX\", 1;\n");
    g.Ship("Report.txt", "records\r\n");
  }
  std::string Kit(const std::string& args, DWORD status = 0) {
    std::string out;
    EXPECT_EQ(status, RunCaptured(Quote(UpdkitPath()) + " store " + args, dir / "kit.out", &out)) << args << out;
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
  t.Kit("put " + Quote(t.src) + " 0 plain " + t.File("plain record bytes, forty of them.......") + " --pack 0");
  t.Kit("put " + Quote(t.src) + " 1 lz " + t.File(lz) + " --pack 1");
  t.Kit("put " + Quote(t.src) + " 2 rle " + t.File(rle) + " --pack 2");
  t.Kit("put " + Quote(t.src) + " 255 never " + t.File("never copied"));
  t.Kit("put-font " + Quote(t.src) + " arial " + t.File(Dib(4, 2, 'a')) + " " + t.File(Dib(8, 3, 'b')));
  t.Kit("create " + Quote(t.dst));
  t.Kit("put " + Quote(t.dst) + " 9 keep " + t.File("kept as it is"));

  Updater u(t.g, "patch.txt -L");
  HWND done = u.Window(" DONE ", IsCompletion);
  ASSERT_NE(nullptr, done) << "no completion dialog";
  Press(done, IDCANCEL);
  EXPECT_EQ(0u, u.Exit());

  const std::string expected = std::string(kRule) + "\r\nDestination : " + t.dst + "\r\nSource : " + t.src +
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
  EXPECT_NE(std::string::npos, list.find("\t2\t3018\r\n3\tM_FNT \tarial\t10\t0\t10\r\n9\tM_AME \tkeep\t13\t0\t13\r\n"))
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
  Updater u(t.g, "patch.txt");
  HWND box = u.Window(" ERROR ", IsMessageBox);
  ASSERT_NE(nullptr, box) << "no error box";
  const std::string text = Text(GetDlgItem(box, 0xFFFF));
  EXPECT_EQ(0u, text.find("Processing file : patch.txt\nLine : 0003\nError open file ")) << text;
  EXPECT_NE(std::string::npos, text.find(t.dst)) << text;
  Press(box, IDOK);
  EXPECT_EQ(0xFFFFFFFFu, u.Exit());
  EXPECT_FALSE(fs::exists(t.dst));
}

TEST(RecordsUi, DamagedSourceShowsErrorReadingFileAndTheDestinationVerifies) {
  RecordGame t;
  t.Kit("create " + Quote(t.src));
  t.Kit("put " + Quote(t.src) + " 1 first " + t.File("the first record is copied before the damage"));
  t.Kit("put " + Quote(t.src) + " 3 bad " + t.File(std::string("\x01\x00\xF0\xFF\xFF\x0F", 6)));
  t.Kit("create " + Quote(t.dst));
  Updater u(t.g, "patch.txt");
  HWND box = u.Window(" ERROR ", IsMessageBox);
  ASSERT_NE(nullptr, box) << "no error box";
  const std::string text = Text(GetDlgItem(box, 0xFFFF));
  EXPECT_NE(std::string::npos, text.find("Error reading file ")) << text;
  EXPECT_NE(std::string::npos, text.find(t.src)) << text;
  Press(box, IDOK);
  EXPECT_EQ(0xFFFFFFFFu, u.Exit());
  EXPECT_EQ("ok\r\n", t.Kit("verify " + Quote(t.dst)));
  EXPECT_EQ("1\tM_BMP \tfirst\t44\t0\t44\r\n", t.Kit("list " + Quote(t.dst)));
}

}  // namespace
