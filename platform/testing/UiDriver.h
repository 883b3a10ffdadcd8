// Driving another program's user interface, for end-to-end tests that play
// the user of the real updater: start it, find its windows, read their
// texts, press their buttons. Windows: KERNEL32 CreateProcessA and USER32
// window messages. POSIX: the updater talks through the console there, and
// tests drive that instead; every call reports kUiErrNotSupported.
//
// Calls return 0 or a Win32 error code. The names differ from the Win32
// ones because <windows.h> makes FindWindow, SendMessage and the like macros.
// Button ids (kIdOk, kIdCancel, kIdYes, kIdNo) are those of platform/Ui.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat {

constexpr int kUiErrNotSupported = 50;  // ERROR_NOT_SUPPORTED

// A window of any process (an HWND); kNoWindow is none.
using WindowId = uintptr_t;
constexpr WindowId kNoWindow = 0;

// The control that holds a message box's text.
constexpr int kMessageBoxTextId = 0xFFFF;

struct ChildOptions {
  std::string workingDir;                // empty: this program's own
  std::vector<std::string> environment;  // "NAME=value" added to this program's own
  // Standard output and error go to this file (created or emptied); empty:
  // they are this program's own.
  std::string outputFile;
};

// A program started from a command line (program path, then its arguments,
// as CreateProcessA takes them). Ended when the object dies, if it still runs;
// it owns its handles and is not copied.
class ChildProcess {
 public:
  ChildProcess();
  ~ChildProcess();

  int Start(const std::string& commandLine, const ChildOptions& options = {});
  // Waits up to timeoutMs for the program to end: true, with its exit code
  // in *exitCode, when it has ended; false when it still runs or never started.
  bool Wait(int timeoutMs, uint32_t* exitCode);
  // The process id; 0 before a successful Start.
  uint32_t Id() const;

 private:
  struct Handles;
  std::unique_ptr<Handles> h_;
};

// The visible top-level windows of process processId whose caption is
// exactly caption, in the system's z order.
int VisibleWindowsOf(uint32_t processId, const std::string& caption, std::vector<WindowId>* out);

// The text of a window or control (WM_GETTEXT, given at most five seconds);
// empty for kNoWindow.
std::string WindowText(WindowId window);
// The control with this id in dialog; kNoWindow when there is none.
WindowId ControlOf(WindowId dialog, int id);
std::string ControlText(WindowId dialog, int id);

// What a click on button id sends its dialog (WM_COMMAND, BN_CLICKED); posted,
// so it does not wait for the dialog.
int PressButton(WindowId dialog, int id);
enum class UiKey { Escape, Return };
// A key press posted to window (WM_KEYDOWN); a dialog's message loop turns
// Escape into its Cancel button and Return into its default button.
int PostKey(WindowId window, UiKey key);
// What a click on the close box sends (WM_SYSCOMMAND, SC_CLOSE); posted.
int PressCloseBox(WindowId window);

// Window styles the tests look for, with their Win32 values.
constexpr uint32_t kWsHScroll = 0x00100000;       // WS_HSCROLL
constexpr uint32_t kWsClipSiblings = 0x04000000;  // WS_CLIPSIBLINGS
constexpr uint32_t kSsEllipsisMask = 0x0000C000;  // SS_ELLIPSISMASK
constexpr uint32_t kSsPathEllipsis = 0x00008000;  // SS_PATHELLIPSIS

// The style bits of a window (GWL_STYLE); 0 for kNoWindow.
uint32_t WindowStyle(WindowId window);
// The class name of a window ("Static", "Edit", ...); empty for kNoWindow.
std::string ClassOf(WindowId window);
// The window that owns a top-level window; kNoWindow when it has none.
WindowId OwnerOf(WindowId window);
// The child windows of parent from the top of their z order to the bottom.
std::vector<WindowId> ChildrenTopDown(WindowId parent);
// The window the user works in (the foreground window), or kNoWindow.
WindowId ForegroundWindow();
// Whether the caption of a top-level window is drawn in the colours of an
// active one, read from the screen; ERROR_NOT_FOUND (1168) when it shows
// neither (a caption drawn by a window manager, or covered).
int CaptionDrawnActive(WindowId window, bool* active);
// The size of a window's client area in pixels.
int ClientSize(WindowId window, int* width, int* height);
// What an edit control shows: the first visible line, and the selection
// (start and end, below 65536 characters).
int EditView(WindowId edit, int* firstLine, int* selStart, int* selEnd);

// A dialog template's font (FONT points, "face") made as the dialog manager
// makes it, to measure texts as a dialog draws them and its dialog units.
class DialogFont {
 public:
  DialogFont(const std::string& face, int points);
  ~DialogFont();
  // 0 when the font was made, else the error.
  int Error() const;
  // The size of one line of text in pixels.
  int TextSize(const std::string& text, int* width, int* height) const;
  // Horizontal and vertical dialog units in pixels (as MapDialogRect).
  int UnitsX(int units) const;
  int UnitsY(int units) const;

 private:
  struct Handles;
  std::unique_ptr<Handles> h_;
};

// This program's own file path and its command line as the system gave it
// (GetModuleFileNameA and GetCommandLineA), for a test program that is
// started as a stand-in for another.
int OwnProgramPath(std::string* path);
int OwnCommandLine(std::string* commandLine);

}  // namespace plat
