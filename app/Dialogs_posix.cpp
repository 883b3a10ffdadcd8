// The console stand-in for the dialogs. Progress: on a terminal one status
// line redrawn at most ten times a second, otherwise one line per new
// destination, on standard output. Ctrl-C is the Cancel button. Completion:
// the message and the report on standard output, then the question read
// from standard input (end of input: Exit).
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/AppState.h"
#include "app/DialogTexts.h"
#include "app/Dialogs.h"
#include "app/ReadWholeFile.h"
#include "ourlib/src/ErrFrame.h"

namespace {

volatile sig_atomic_t g_interrupted = 0;

struct Console {
  bool alive = false;
  bool terminal = false;
  bool lineShown = false;  // a status line stands on the line above the cursor
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

// The status line is printed with its line end and redrawn by moving back
// up to it, so the cursor always stands on a fresh line: an error box
// written to standard error meanwhile starts on a line of its own.
void Draw(bool force) {
  Console& c = g_console;
  if (!c.terminal) return;
  double now = Now();
  if (!force && c.lastDraw >= 0 && now - c.lastDraw < 0.1) return;  // at most ten a second
  c.lastDraw = now;
  std::printf("%s\rFiles updated: %u  Units updated : %u  Bytes updated : %u  %s\033[K\n",
              c.lineShown ? "\033[A" : "", c.files, c.units, c.bytes, c.destination.c_str());
  std::fflush(stdout);
  c.lineShown = true;
}

void NewDestination(const char* path) {
  Console& c = g_console;
  if (c.destination == path) return;
  c.destination = path;
  if (c.terminal) {
    Draw(true);
  } else {
    std::printf("Destination  file : %s\n", path);
    std::fflush(stdout);
  }
}

// WM_COMMAND with IDCANCEL: the cancel flag is set and the dialog is gone.
void Cancel() {
  Console& c = g_console;
  App().cancel = true;
  if (!c.alive) return;
  c.alive = false;
  // No last redraw: an error box may stand below the status line by now.
  sigaction(SIGINT, &c.previous, nullptr);  // Ctrl-C at a later question ends the program
}

}  // namespace

void SetInstanceHandle(void*) {}

bool CreateProgressDialog() {
  Console& c = g_console;
  c = Console{};
  c.alive = true;
  c.terminal = isatty(STDOUT_FILENO) != 0;
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

void CloseProgressDialog() {
  if (g_console.alive) Cancel();
}

int ShowCompletionDialog() {
  char path[kPathField];
  ReportPath(path, sizeof path);
  MemPtr<char> report(ReadReport(path));
  char message[kCompletionMessage];
  ComposeCompletionMessage(message, sizeof message);
  if (!report) return -1;
  std::printf("%s\n", message);
  std::fputs(report.get(), stdout);
  size_t n = std::strlen(report.get());
  if (n > 0 && report.get()[n - 1] != '\n') std::printf("\n");
  std::printf("Start the game? [y/N] ");
  std::fflush(stdout);
  char answer[64];
  if (std::fgets(answer, sizeof answer, stdin) == nullptr) {
    std::printf("\n");
    return 0;  // end of input: Exit
  }
  return (answer[0] == 'y' || answer[0] == 'Y') ? 1 : 0;
}

void PostQuit(int) {}
