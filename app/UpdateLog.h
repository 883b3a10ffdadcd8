// The update log: a plain text file written only when the updater is
// started with -L. Every line ends in CR LF on disk, on every build.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>

#include "ourlib/src/PathText.h"

// Size of the buffer one log line is assembled in, with its line end. A
// longer text is written in full: in pieces of this buffer's size.
constexpr size_t kLogLineBuffer = 260;

struct LogFileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// The log's part of the process-wide state (App().log): ParseCommandLine
// sets the first two, OpenLog and CloseLog the stream.
struct UpdateLogState {
  bool requested = false;      // set by -L
  char path[kPathField] = "";  // set by -L with a value; empty: the default name
  std::unique_ptr<std::FILE, LogFileCloser> stream;
  // When set, also gets every line LogLine is given, with or without -L: a
  // rehearsal of the run shows the log it would write without writing it.
  std::function<void(const char*)> tap;
};

// The -L naming rule: splits `value` into drive, folder, name and extension
// and fills in each missing part on its own: the name with "updlog", the
// drive with updaterDrive, the folder with updaterDir, the extension with
// ".txt". The joined path goes into out (kPathField bytes). updaterDrive and
// updaterDir are the drive and folder of argv[0] (either may be empty).
void ResolveLogPath(const char* value, const char* updaterDrive, const char* updaterDir, char* out);

// Opens the log for writing (emptying an existing file) when it is requested
// and not yet open: at the log path, or else updlog.txt in the folder of
// argv0 (may be null: the current folder). Silent when it cannot be opened.
void OpenLog(const char* argv0);

// Writes text and a line end when the log is requested and open.
void LogLine(const char* text);

// Closes (and so flushes) the log when it is open.
void CloseLog();

// True while a log stream is open.
bool LogIsOpen();
