#include "tests/support/UiDriver_win32.h"

#include <gtest/gtest.h>

namespace testing_support {

namespace {
const char kDirectories[] = "SOFTWARE\\Varnholt\\Marovex\\Directories";
const char kVersionKey[] = "SOFTWARE\\Varnholt\\Marovex\\Version";

void SetText(HKEY key, const char* name, const std::string& text) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
}
void SetDword(HKEY key, const char* name, DWORD v) {
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
}
}  // namespace

void WriteMachineRegistry(const GameInstall& g) {
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

std::string WindowText(HWND w) {
  char buf[4096] = "";
  DWORD_PTR got = 0;
  SendMessageTimeoutA(w, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_NORMAL, 5000, &got);
  return buf;
}

std::string ItemText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

void Press(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

bool IsCompletion(HWND w) { return GetDlgItem(w, 1007) != nullptr; }
bool IsMessageBox(HWND w) { return GetDlgItem(w, 0xFFFF) != nullptr; }

UpdaterProcess::UpdaterProcess(const GameInstall& g, const std::string& args) {
  std::string cmd = "\"" + g.Updater() + "\" " + args;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  EXPECT_TRUE(CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, g.dist.c_str(), &si, &pi_));
}

UpdaterProcess::~UpdaterProcess() {
  if (pi_.hProcess == nullptr) return;
  if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 99);
  CloseHandle(pi_.hThread);
  CloseHandle(pi_.hProcess);
}

HWND UpdaterProcess::Window(const std::string& caption, bool (*accept)(HWND), int timeoutMs) {
  struct Search {
    DWORD pid;
    std::string caption;
    bool (*accept)(HWND);
    HWND found;
  } s{pi_.dwProcessId, caption, accept, nullptr};
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
    if (WaitForSingleObject(pi_.hProcess, 10) == WAIT_OBJECT_0) return nullptr;
  }
  return nullptr;
}

DWORD UpdaterProcess::Exit(int timeoutMs) {
  DWORD code = 12345;
  if (WaitForSingleObject(pi_.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(pi_.hProcess, &code);
  return code;
}

}  // namespace testing_support
