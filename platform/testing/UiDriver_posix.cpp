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
uint32_t WindowStyle(WindowId) { return 0; }
std::string ClassOf(WindowId) { return ""; }
WindowId OwnerOf(WindowId) { return kNoWindow; }
std::vector<WindowId> ChildrenTopDown(WindowId) { return {}; }
WindowId ForegroundWindow() { return kNoWindow; }
int CaptionDrawnActive(WindowId, bool*) { return kUiErrNotSupported; }
int ClientSize(WindowId, int*, int*) { return kUiErrNotSupported; }
int EditView(WindowId, int*, int*, int*) { return kUiErrNotSupported; }

struct DialogFont::Handles {};
DialogFont::DialogFont(const std::string&, int) {}
DialogFont::~DialogFont() = default;
int DialogFont::Error() const { return kUiErrNotSupported; }
int DialogFont::TextSize(const std::string&, int*, int*) const { return kUiErrNotSupported; }
int DialogFont::UnitsX(int) const { return 0; }
int DialogFont::UnitsY(int) const { return 0; }

int OwnProgramPath(std::string*) { return kUiErrNotSupported; }
int OwnCommandLine(std::string*) { return kUiErrNotSupported; }

}  // namespace plat
