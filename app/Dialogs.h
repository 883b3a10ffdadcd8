// The progress and completion dialogs and the message pump. Windows: the
// dialog templates 101 and 102 driven by USER32. POSIX: the console stand-in
// (a status line or one line per destination, Ctrl-C as Cancel, the
// completion text on standard output and the question on standard input).
#pragma once

#include <cstdint>

#include "update/Progress.h"

// Remembers the module that holds the dialog templates (the entry point's
// instance handle; null: the running program).
void SetInstanceHandle(void* instance);

// Creates the modeless progress dialog (no owner) with every text empty and
// every counter 0. False when it cannot be created.
bool CreateProgressDialog();
// Drains the message queue without waiting (PumpMessages); on the console,
// delivers a pending Ctrl-C to the progress dialog as Cancel.
void PumpMessages();
// UM_PROGRESS, UM_FILE_UPDATED and UM_BYTES_UPDATED to the progress dialog;
// nothing once it is gone.
void SendProgress(const ProgressInfo& info);
void SendFileUpdated(const char* path);
void SendBytesUpdated(uint32_t count);
// WM_COMMAND with IDCANCEL (the cancel flag, as the Cancel button sets it),
// then closes the dialog. The Cancel button only sets the flag: the dialog
// stays until the run has ended and closes it here.
void CloseProgressDialog();

// The modal completion dialog: 1 = start the game, 0 = do not, -1 = the
// report file cannot be read or the dialog cannot be shown.
int ShowCompletionDialog();

// The entry point's last word to the message queue (PostQuitMessage).
void PostQuit(int code);
