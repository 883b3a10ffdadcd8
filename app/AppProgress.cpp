#include "app/AppProgress.h"

#include <string>

#include "app/AppState.h"
#include "app/Dialogs.h"
#include "app/Messages.h"
#include "app/UpdateLog.h"
#include "platform/NativePath.h"

namespace {

// Every path the operations show or log is in the system's own form.
std::string Shown(const char* path) { return plat::ShownPath(path); }

class DialogProgress final : public ProgressSink {
 public:
  RunCounters& Counters() override { return App().counters; }
  void Pump() override { PumpMessages(); }
  bool Cancelled() override { return App().cancel; }
  void Progress(const ProgressInfo& info) override {
    ProgressInfo shown = info;
    const std::string source = Shown(info.source), destination = Shown(info.destination);
    if (info.source != nullptr) shown.source = source.c_str();
    if (info.destination != nullptr) shown.destination = destination.c_str();
    SendProgress(shown);
  }
  void FileUpdated(const char* path) override { SendFileUpdated(Shown(path).c_str()); }
  void BytesUpdated(uint32_t count) override { SendBytesUpdated(count); }
  // The operations' extra texts are the paths they failed on (or empty).
  void ScriptError(int message, int number, const char* extra) override {
    ReportScriptError(message, number, Shown(extra).c_str());
  }
  void FileError(int code, const char* name) override {
    ReportFileError(code, Shown(name).c_str());
  }
  void Log(const char* text) override { LogLine(text); }
};

}  // namespace

ProgressSink& AppProgress() {
  static DialogProgress sink;
  return sink;
}
