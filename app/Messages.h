// The texts the updater shows and the three ways an error reaches the user:
// a beep, two lines in the update log (" ERROR " and the message) and a
// modal message box with caption " ERROR " and the error icon.
#pragma once

#include <cstddef>

#include "update/MessageNumbers.h"

// String ids of the string table (app/resources/strings.inc).
enum StringId : int {
#define UPD_STRING(name, id, text) name = id,
#include "app/resources/strings.inc"
#undef UPD_STRING
};

// Message numbers (MessageNumber, MSG_*), as ReportScriptError and
// ReportError take them, are listed once in update/MessageNumbers.h.

// Size of the text area that LoadText hands out texts from; one text is at
// most kLoadTextMax bytes with its terminator.
constexpr size_t kTextArea = 4100;
constexpr size_t kLoadTextMax = 2048;
// Size of the buffer a ReportScriptError text is formatted into.
constexpr size_t kMessageBuffer = 1024;

// Hands the string table to the UI backend that cannot read it from the
// program's resources (POSIX); the entry point calls it before anything is
// shown. Without effect on Windows.
void InstallStringTable();

// The text of string `id` in the shared text area; an empty text when there
// is no such string; never null. The text stays valid until later loads wrap
// around over it (the area restarts at 0 once the position passes 2052), so
// a few texts can be loaded for one formatting call.
const char* LoadText(int id);

// Error in the script: "Processing file : <name>\nLine : <line>\n" followed by
// string message+1, `number` in decimal (nothing when 0) and `extra` (may be
// empty or null). Name and line are those of the script reader.
void ReportScriptError(int message, int number, const char* extra);

// String message+1, followed by `text` when it is not null.
void ReportError(int message, const char* text);

// File-operation failure, code -1..-8: string 961 - code, a blank, `name`.
void ReportFileError(int code, const char* name);
