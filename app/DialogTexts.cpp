#include "app/DialogTexts.h"

#include <cstdio>

#include "app/AppState.h"
#include "app/FormatVersion.h"
#include "app/Messages.h"
#include "app/ReadWholeFile.h"
#include "app/UpdateLog.h"
#include "ourlib/src/ErrFrame.h"
#include "settings/GameSettings.h"

void ComposeCompletionMessage(char* out, size_t capacity) {
  uint32_t v = g_GameSettings.Version;
  // A translated string 63 longer than the buffer is cut, never overrun.
  std::snprintf(out, capacity, LoadText(63),
                FormatVersion(static_cast<int>(v >> 24), static_cast<int>((v >> 16) & 0xFF),
                              static_cast<int>(v & 0xFFFF)));
}

void ReportPath(char* out, size_t capacity) {
  UpdaterFolder(out, capacity);
  AppendBounded(out, capacity, LoadText(67));
}

char* ReadReport(const char* path) {
  char* report = nullptr;
  Guard([&] { report = ReadWholeFile(path); });
  return report;
}

int32_t CountFileUpdated(const char* path) {
  RunCounters& c = App().counters;
  c.files = static_cast<int32_t>(static_cast<uint32_t>(c.files) + 1u);
  char line[kPathField + 32];
  std::snprintf(line, sizeof line, "Updated file : %s", path);
  LogLine(line);
  return c.files;
}

int32_t CountBytesUpdated(uint32_t count) {
  RunCounters& c = App().counters;
  c.bytes = static_cast<int32_t>(static_cast<uint32_t>(c.bytes) + count);
  return c.bytes;
}
