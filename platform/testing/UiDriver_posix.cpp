// There are no windows to drive here: the updater uses the console, and the
// POSIX end-to-end tests drive that (tests/support/ConsoleUpdater.h).
#include "platform/testing/UiDriver.h"

namespace plat {

struct ChildProcess::Handles {};

ChildProcess::ChildProcess() = default;
ChildProcess::~ChildProcess() = default;

int ChildProcess::Start(const std::string&, const ChildOptions&) { return kUiErrNotSupported; }
bool ChildProcess::Wait(int, uint32_t*) { return false; }
uint32_t ChildProcess::Id() const { return 0; }

int VisibleWindowsOf(uint32_t, const std::string&, std::vector<WindowId>* out) {
  out->clear();
  return kUiErrNotSupported;
}

std::string WindowText(WindowId) { return ""; }
WindowId ControlOf(WindowId, int) { return kNoWindow; }
std::string ControlText(WindowId, int) { return ""; }
int PressButton(WindowId, int) { return kUiErrNotSupported; }
int PostKey(WindowId, UiKey) { return kUiErrNotSupported; }
int PressCloseBox(WindowId) { return kUiErrNotSupported; }
int OwnProgramPath(std::string*) { return kUiErrNotSupported; }
int OwnCommandLine(std::string*) { return kUiErrNotSupported; }

}  // namespace plat
