// Process-wide state of the updater run: the updater folder, the game
// arguments, the cancel flag and the run counters. One instance for the
// whole process; everything runs on one thread.
#pragma once

#include <cstddef>

#include "app/PathSplit.h"
#include "ourlib/src/PathText.h"
#include "update/Progress.h"

struct AppState {
  char updaterDrive[kMaxDrive] = "";  // drive of argv[0] ("C:") or empty
  char updaterDir[kMaxDir] = "";      // folder of argv[0] with its separator, or empty
  char gameArgs[kPathField] = "";     // the -R text
  bool cancel = false;                // set when the progress dialog gets IDCANCEL
  RunCounters counters;               // run-wide, never reset
};

AppState& App();

// The updater folder (drive and folder of argv[0]) in a field of `capacity`
// bytes; empty when argv[0] had no folder part (the current folder).
void UpdaterFolder(char* out, size_t capacity);
