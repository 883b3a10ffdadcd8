// The test as the user of the real updater.exe (Windows only): the registry
// the game's installer leaves, starting the updater, finding its windows,
// reading their texts and pressing their buttons. Needs a display (Xvfb
// under Wine). The system calls are those of platform/testing/UiDriver.h.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Ui.h"
#include "platform/testing/UiDriver.h"
#include "tests/support/GameInstall.h"

namespace testing_support {

using plat::WindowId;

// The Directories and Version keys for g in HKEY_LOCAL_MACHINE, with the
// values GameInstall::RegistryText writes into the stand-in file.
void WriteMachineRegistry(const GameInstall& g);

// The text of control id in a window of the updater's process.
std::string ItemText(WindowId dialog, int id);

// Pressing a button: the WM_COMMAND that its click sends to the dialog.
void Press(WindowId dialog, int id);

// A REG_DWORD of the game's Version key in HKEY_LOCAL_MACHINE; 0xFFFFFFFF
// when it is missing.
uint32_t VersionDword(const char* name);
// A REG_SZ of the Version key up to its first zero byte; "<no key>" or
// "<no value>" when it is missing.
std::string VersionText(const char* name);

// arg in double quotes, as one argument of a command line.
std::string Quote(const std::string& arg);
// Runs updkit with args (the command line after the program), its standard
// output into outFile; returns that output, with the exit code in *code
// (12345 when it has not ended within two minutes).
std::string RunUpdkit(const std::string& args, const std::string& outFile, uint32_t* code);

// The progress dialog's caption.
constexpr char kProgressCaption[] = "MX Updater Version 2.2 ";

// The controls of the updater's dialogs that the tests read.
constexpr int kSourceText = 1000;       // progress: the source file
constexpr int kDestinationText = 1001;  // progress: the destination file
constexpr int kFilesCounter = 1003;     // progress: files, units and bytes updated
constexpr int kUnitsCounter = 1004;
constexpr int kBytesCounter = 1006;
constexpr int kCounterFrame = 1005;    // progress: the box behind the counters
constexpr int kReportText = 1000;      // completion: the report
constexpr int kCompletionText = 1007;  // completion: the message

// The completion dialog has its text in control kCompletionText; a message
// box has its text in control plat::kMessageBoxTextId.
bool IsCompletion(WindowId w);
bool IsMessageBox(WindowId w);

// The updater started in g's distribution folder with args; ended when the
// object dies, if it still runs.
class UpdaterProcess {
 public:
  UpdaterProcess(const GameInstall& g, const std::string& args);

  // A visible top-level window of the updater with this caption, for which
  // accept (when given) says yes; plat::kNoWindow after the timeout or when
  // the updater has ended.
  WindowId Window(const std::string& caption, bool (*accept)(WindowId) = nullptr,
                  int timeoutMs = 30000);
  // The exit code; 12345 when it has not ended within the timeout.
  uint32_t Exit(int timeoutMs = 60000);
  // Waits for the error box, presses its OK and checks that the run then
  // ends with -1. The box's text, or "<no error box>".
  std::string ErrorToTheEnd(int timeoutMs = 30000);

 private:
  plat::ChildProcess process_;
};

}  // namespace testing_support
