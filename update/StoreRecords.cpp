// Placeholder until record updates land: operation 1 fails with "Error open file ".
#include "update/Operations.h"

int CopyStoreRecords(ProgressSink& ui, const char* source, const char*) {
  ui.ScriptError(3, 0, source);
  return -1;
}
