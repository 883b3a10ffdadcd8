#include "update/Progress.h"

#include <cstdarg>
#include <cstdio>

void LogFormatted(ProgressSink& ui, const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  ui.Log(line);
}
