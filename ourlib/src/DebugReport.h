// The debug message reporter: composes a report about a failed library
// operation (where it failed, the code, where the code was first raised, a
// caller-formatted message) and hands it to two optional sinks, a debug log
// file and a debug message box. With neither switched on (the updater's
// case) a report shows and writes nothing; it still clears the first-error
// record, so the next RaiseErrorAt records afresh.
#pragma once

#include <cstdint>

// Composes and emits one report. file may be null. Returns 0, or 1 when the
// user chose Retry in the message box; ends the program (debug log closed,
// SIGABRT raised, exit code -1) when abortFlag is set and the report went to
// the debug log or to no sink, or when the user chose Abort.
int ReportDebugMessage(const char* file, int line, int abortFlag, int code, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 5, 6)))
#endif
    ;

// Closes the debug log if one is open.
void CloseDebugLog();

// Opens (appending to) the debug log; the next logged report starts with a
// header line. Returns false when the file cannot be opened.
bool OpenDebugLog(const char* path);

// The answers of the debug message box (Abort, Retry, Ignore buttons).
enum class DebugBoxAnswer { Abort, Retry, Ignore };
// Shows text under caption as an error box with those buttons.
using DebugBoxHook = DebugBoxAnswer (*)(const char* text, const char* caption);

// Message-box mode: reports that do not go to a debug log are shown through
// hook. A null hook switches the mode off.
void SetDebugMessageBox(DebugBoxHook hook);

// The program path a message-box report names after "Program: ".
void SetDebugProgramPath(const char* path);

// Switches composing reports on (the default) or off; off, a report only
// clears the first-error record.
void SetDebugReporting(bool on);

// Appends a value to the list that the next logged report ends with.
void AddDebugValue(uint32_t value);
