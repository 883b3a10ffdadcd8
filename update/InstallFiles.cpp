// Placeholder until update packages land: every install fails as an invalid file.
#include "ourlib/src/PathText.h"
#include "update/Operations.h"

int InstallFiles(ProgressSink&, const char* updaterFolder, const char*, const char* sourceName,
                 char* failedPath, size_t failedCapacity) {
  CopyBounded(failedPath, failedCapacity, updaterFolder);
  EnsureTrailingSeparator(failedPath, failedCapacity);
  AppendBounded(failedPath, failedCapacity, sourceName);
  return -3;
}
