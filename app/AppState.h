// Process-wide state of the updater run: the updater folder, the game
// arguments, the update log, the cancel flag, the run counters, the text
// area of LoadText and the dialogs' handles. One instance for the whole
// process; everything runs on one thread.
#pragma once

#include <cstddef>

#include "app/Messages.h"
#include "app/UpdateLog.h"
#include "ourlib/src/PathText.h"
#include "update/Progress.h"

struct AppState {
  char updaterDrive[kMaxDrive] = "";  // drive of argv[0] ("C:") or empty
  char updaterDir[kMaxDir] = "";      // folder of argv[0] with its separator, or empty
  char gameArgs[kPathField] = "";     // the -R text
  UpdateLogState log;                 // -L and the open log
  bool cancel = false;                // set when the progress dialog gets IDCANCEL
  RunCounters counters;               // run-wide, never reset
  char textArea[kTextArea] = "";      // the texts LoadText hands out
  size_t textPos = 0;                 // where the next text goes in textArea
  void* instance = nullptr;        // module of the dialog templates (HINSTANCE); null: the program
  void* progressDialog = nullptr;  // the modeless progress dialog (HWND) while it is open
};

AppState& App();

// Closes the update log and returns every field to its state at start.
void ResetAppState();

// The updater folder (drive and folder of argv[0]) in a field of `capacity`
// bytes; empty when argv[0] had no folder part (the current folder).
void UpdaterFolder(char* out, size_t capacity);
