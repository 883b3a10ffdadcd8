// A ProgressSink that records what an update operation showed, logged and
// asked, for tests of the operations. It can set the cancel flag at the
// n-th message pump.
#pragma once

#include <string>
#include <vector>

#include "update/Progress.h"

namespace testing_support {

class RecordingSink : public ProgressSink {
 public:
  struct Error {
    int message;
    int number;
    std::string extra;
  };
  struct FileFailure {
    int code;
    std::string name;
  };
  struct ProgressCall {
    int32_t units, bytes, files;
    bool hasSource, hasDestination;
    std::string source, destination;
  };

  RunCounters counters;
  std::vector<std::string> log;
  std::vector<Error> errors;
  std::vector<FileFailure> fileErrors;
  std::vector<ProgressCall> progress;
  std::vector<std::string> filesUpdated;
  int pumps = 0;
  int cancelAtPump = 0;  // 0: never; n: the cancel flag is set by the n-th pump
  bool cancelled = false;

  RunCounters& Counters() override { return counters; }
  void Pump() override {
    ++pumps;
    if (cancelAtPump != 0 && pumps >= cancelAtPump) cancelled = true;
  }
  bool Cancelled() override { return cancelled; }
  void Progress(const ProgressInfo& info) override {
    progress.push_back({info.units, info.bytes, info.files, info.source != nullptr,
                        info.destination != nullptr, info.source ? info.source : "",
                        info.destination ? info.destination : ""});
  }
  void FileUpdated(const char* path) override {
    filesUpdated.push_back(path);
    ++counters.files;
  }
  void BytesUpdated(uint32_t count) override { counters.bytes += static_cast<int32_t>(count); }
  void ScriptError(int message, int number, const char* extra) override {
    errors.push_back({message, number, extra ? extra : ""});
  }
  void FileError(int code, const char* name) override { fileErrors.push_back({code, name}); }
  void Log(const char* text) override { log.push_back(text); }
};

}  // namespace testing_support
