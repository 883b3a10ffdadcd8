// The console stand-in for the dialogs, on standard error. Progress: on a
// terminal one status line, fitted to the terminal's width and redrawn in
// place at most ten times a second; otherwise one line per new destination.
// Ctrl-C is the Cancel button. Completion: the message and the report on
// standard output, then the question read from standard input (end of
// input: Exit).
#include <signal.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/AppState.h"
#include "app/DialogTexts.h"
#include "app/Dialogs.h"
#include "app/ReadWholeFile.h"
#include "ourlib/src/ErrFrame.h"
#include "platform/CodePage.h"
#include "platform/Console_posix.h"
#include "platform/Terminal.h"

namespace {

volatile sig_atomic_t g_interrupted = 0;

struct Console {
  bool alive = false;
  uint32_t files = 0, units = 0, bytes = 0;
  std::string source, destination;
  double lastDraw = -1.0;  // seconds, monotonic
  struct sigaction previous {};
};

Console g_console;

void OnInterrupt(int) { g_interrupted = 1; }

double Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The length of the character at text[i]: 2 for a double-byte one (which
// also takes two columns), else 1.
size_t CharLength(const std::string& text, size_t i) {
  return plat::IsLeadByte(static_cast<uint8_t>(text[i])) && i + 1 < text.size() ? 2 : 1;
}

// The first whole characters of text in at most `columns` columns.
std::string Head(const std::string& text, size_t columns) {
  size_t end = 0;
  while (end < text.size() && end + CharLength(text, end) <= columns) end += CharLength(text, end);
  return text.substr(0, end);
}

// The last whole characters of text in at most `columns` columns.
std::string Tail(const std::string& text, size_t columns) {
  size_t start = 0;
  while (start < text.size() && text.size() - start > columns) start += CharLength(text, start);
  return text.substr(start);
}

// path in at most `columns` columns, shortened in the middle so that its
// beginning and, above all, its file name stay readable.
std::string Shortened(const std::string& path, size_t columns) {
  static const std::string kCut = "...";
  if (path.size() <= columns) return path;
  if (columns <= kCut.size()) return Head(path, columns);
  const size_t room = columns - kCut.size();
  const size_t slash = path.rfind('/');
  const size_t name = slash == std::string::npos ? path.size() : path.size() - slash;
  const size_t tail = std::min(room, std::max(name, room * 2 / 3));
  return Head(path, room - tail) + kCut + Tail(path, tail);
}

// The status line in at most `columns` columns: the counters with their
// dialog's labels, then the destination, shortened to the room left.
std::string StatusLine(size_t columns) {
  const Console& c = g_console;
  char counters[128];
  std::snprintf(counters, sizeof counters,
                "Files updated: %u  Units updated : %u  Bytes updated : %u", c.files, c.units,
                c.bytes);
  std::string line = counters;
  if (c.destination.empty() || line.size() + 2 + 8 > columns) return Head(line, columns);
  return line + "  " + Shortened(c.destination, columns - line.size() - 2);
}

// Redraws the status line (a terminal only), at most ten times a second
// unless forced. One column is left free: a line that fills the last one
// makes some terminals wrap.
void Draw(bool force) {
  Console& c = g_console;
  const int width = plat::TerminalColumns(plat::StdStream::kError);
  if (width == 0) return;
  double now = Now();
  if (!force && c.lastDraw >= 0 && now - c.lastDraw < 0.1) return;
  c.lastDraw = now;
  plat::console::Status(StatusLine(width > 1 ? static_cast<size_t>(width - 1) : 1));
}

void NewDestination(const char* path) {
  Console& c = g_console;
  if (c.destination == path) return;
  c.destination = path;
  if (plat::TerminalColumns(plat::StdStream::kError) > 0) {
    Draw(true);
  } else {
    plat::console::Write("Destination  file : " + c.destination + "\n");
  }
}

// WM_COMMAND with IDCANCEL: the cancel flag is set and the dialog is gone.
void Cancel() {
  Console& c = g_console;
  App().cancel = true;
  if (!c.alive) return;
  c.alive = false;
  sigaction(SIGINT, &c.previous, nullptr);  // Ctrl-C at a later question ends the program
}

}  // namespace

void SetInstanceHandle(void*) {}

bool CreateProgressDialog() {
  Console& c = g_console;
  c = Console{};
  c.alive = true;
  g_interrupted = 0;
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sa.sa_flags =
      SA_RESTART;  // file calls in progress finish; the flag is seen at the next check point
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, &c.previous);
  Draw(true);
  return true;
}

void PumpMessages() {
  if (g_interrupted && g_console.alive) {
    g_interrupted = 0;
    plat::console::Interrupted();  // the terminal echoed "^C" where the cursor stood
    Cancel();
  }
}

void SendProgress(const ProgressInfo& info) {
  Console& c = g_console;
  if (!c.alive) return;
  if (info.source != nullptr) c.source = info.source;
  if (info.bytes != -1) c.bytes = static_cast<uint32_t>(info.bytes);
  if (info.units != -1) c.units = static_cast<uint32_t>(info.units);
  if (info.files != -1) c.files = static_cast<uint32_t>(info.files);
  if (info.destination != nullptr) {
    NewDestination(info.destination);
  } else {
    Draw(false);
  }
}

void SendFileUpdated(const char* path) {
  Console& c = g_console;
  if (!c.alive) return;
  c.files = static_cast<uint32_t>(CountFileUpdated(path));
  NewDestination(path);
}

void SendBytesUpdated(uint32_t count) {
  Console& c = g_console;
  if (!c.alive) return;
  c.bytes = static_cast<uint32_t>(CountBytesUpdated(count));
  Draw(false);
}

// At the end of a run the status line shows the final counts once more
// before it is ended; after an error box it has been ended already and the
// box stays the last thing shown.
void CloseProgressDialog() {
  if (!g_console.alive) return;
  if (plat::console::StatusOpen()) Draw(true);
  plat::console::EndStatus();
  Cancel();
}

int ShowCompletionDialog() {
  char path[kPathField];
  ReportPath(path, sizeof path);
  MemPtr<char> report(ReadReport(path));
  char message[kCompletionMessage];
  ComposeCompletionMessage(message, sizeof message);
  if (!report) return -1;
  std::string text = std::string(message) + "\n" + report.get();
  if (text.back() != '\n') text += "\n";
  plat::console::WriteOut(text);
  plat::console::Write("Start the game? [y/N] ");
  return plat::console::AnswerIsYes() ? 1 : 0;  // end of input: Exit
}

void PostQuit(int) {}
