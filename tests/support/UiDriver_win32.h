// The test as the user of the real updater.exe (Windows only): the registry
// the game's installer leaves, starting the updater, finding its windows,
// reading their texts and pressing their buttons. Needs a display (Xvfb
// under Wine).
#pragma once

#include <windows.h>

#include <string>

#include "tests/support/GameInstall.h"

namespace testing_support {

// The Directories and Version keys for g in HKEY_LOCAL_MACHINE, with the
// values GameInstall::RegistryText writes into the stand-in file.
void WriteMachineRegistry(const GameInstall& g);

// A window's text, also of a control in the updater's process.
std::string WindowText(HWND w);
std::string ItemText(HWND dialog, int id);

// Pressing a button: the WM_COMMAND that its click sends to the dialog.
void Press(HWND dialog, int id);

// The completion dialog has its text in control 1007; a message box has its
// text in control 0xFFFF.
bool IsCompletion(HWND w);
bool IsMessageBox(HWND w);

// The updater started in g's distribution folder with args; ended when the
// object dies, if it still runs.
class UpdaterProcess {
 public:
  UpdaterProcess(const GameInstall& g, const std::string& args);
  ~UpdaterProcess();
  UpdaterProcess(const UpdaterProcess&) = delete;
  UpdaterProcess& operator=(const UpdaterProcess&) = delete;

  // A visible top-level window of the updater with this caption, for which
  // accept (when given) says yes; null after the timeout or when the updater
  // has ended.
  HWND Window(const std::string& caption, bool (*accept)(HWND) = nullptr, int timeoutMs = 30000);
  // The exit code; 12345 when it has not ended within the timeout.
  DWORD Exit(int timeoutMs = 60000);

 private:
  PROCESS_INFORMATION pi_{};
};

}  // namespace testing_support
