// What the update operations are handed to reach the user: the progress
// dialog (counters, texts, message pump, cancel flag), the error messages and
// the update log. The application implements it over its dialogs; tests
// implement it to record what an operation showed.
#pragma once

#include <cstdint>

// The record sent with UM_PROGRESS: -1 leaves a counter unchanged, null a text.
struct ProgressInfo {
  int32_t units;
  int32_t bytes;
  int32_t files;
  const char* source;
  const char* destination;
};

// The run counters: run-wide, starting at 0, never reset.
struct RunCounters {
  int32_t files = 0;
  int32_t units = 0;
  int32_t bytes = 0;
};

class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual RunCounters& Counters() = 0;
  // Drains the message queue (PumpMessages); never waits.
  virtual void Pump() = 0;
  // The cancel flag, set when the progress dialog is cancelled or closed.
  virtual bool Cancelled() = 0;
  // UM_PROGRESS.
  virtual void Progress(const ProgressInfo& info) = 0;
  // UM_FILE_UPDATED: shows the path, adds 1 to the file counter, logs
  // "Updated file : %s".
  virtual void FileUpdated(const char* path) = 0;
  // UM_BYTES_UPDATED: adds count to the byte counter and shows it.
  virtual void BytesUpdated(uint32_t count) = 0;
  // ReportScriptError: message number, number (0: none), extra text (may be empty).
  virtual void ScriptError(int message, int number, const char* extra) = 0;
  // ReportFileError: file-operation code -1..-8 and the failed path.
  virtual void FileError(int code, const char* name) = 0;
  // LogLine.
  virtual void Log(const char* text) = 0;
};

// Formats one line for ui.Log; a line longer than 1023 bytes is cut (no line
// the operations write comes near it: a path field or a record name and a few
// numbers).
void LogFormatted(ProgressSink& ui, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// A sink for runs without a user: it shows, logs and pumps nothing, is never
// cancelled, and keeps the run counters as the application does (a file
// announced counts one file, a block written its bytes, both wrapping as the
// 32-bit words they are). updkit, the benchmarks and the fuzzers use it,
// overriding what they want to see.
class QuietSink : public ProgressSink {
 public:
  RunCounters& Counters() override { return counters_; }
  void Pump() override {}
  bool Cancelled() override { return false; }
  void Progress(const ProgressInfo&) override {}
  void FileUpdated(const char*) override {
    counters_.files = static_cast<int32_t>(static_cast<uint32_t>(counters_.files) + 1);
  }
  void BytesUpdated(uint32_t count) override {
    counters_.bytes = static_cast<int32_t>(static_cast<uint32_t>(counters_.bytes) + count);
  }
  void ScriptError(int, int, const char*) override {}
  void FileError(int, const char*) override {}
  void Log(const char*) override {}

 private:
  RunCounters counters_;
};
