#include "app/FormatVersion.h"

#include <cstdio>

const char* FormatVersion(int version, int build, int patch) {
  // Version 255, build 255, patch 65535 fill it exactly; larger values (not
  // possible from a version word) are cut rather than overrun it.
  static char text[16];
  std::snprintf(text, sizeof text, " %d.%03d.%03d ", version, build, patch);
  return text;
}
