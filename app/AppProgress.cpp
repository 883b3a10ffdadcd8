#include "app/AppProgress.h"

#include "app/AppState.h"
#include "app/Dialogs.h"
#include "app/Messages.h"
#include "app/UpdateLog.h"

namespace {

class DialogProgress final : public ProgressSink {
 public:
  RunCounters& Counters() override { return App().counters; }
  void Pump() override { PumpMessages(); }
  bool Cancelled() override { return App().cancel; }
  void Progress(const ProgressInfo& info) override { SendProgress(info); }
  void FileUpdated(const char* path) override { SendFileUpdated(path); }
  void BytesUpdated(uint32_t count) override { SendBytesUpdated(count); }
  void ScriptError(int message, int number, const char* extra) override {
    ReportScriptError(message, number, extra);
  }
  void FileError(int code, const char* name) override { ReportFileError(code, name); }
  void Log(const char* text) override { LogLine(text); }
};

}  // namespace

ProgressSink& AppProgress() {
  static DialogProgress sink;
  return sink;
}
