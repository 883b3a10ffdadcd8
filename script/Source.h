// Script sources: the stack of open script files (the script and the files
// it includes), line reading with continuation, and the current file name
// and line number that script error messages show.
#pragma once

#include "ourlib/src/ErrorCodes.h"

// The operations a kind of source provides. Absent operations are null.
struct SourceInterface {
  void* (*SourceOpen)(const char* path);                        // null when it cannot
  int (*SourceClose)(void* handle);                             // 0, or raises
  int (*SourceReadLine)(void* handle, char* buffer, int size);  // length, or -1 at the end
  int (*SourceMoreInput)(void* handle);                         // nonzero: go on after the end
  const char* (*SourceResolveName)(const char* name);           // bracketed include names
  void (*SourceNotify)(const char* path, int opened);           // 1 opened, 0 ended (includes)
};

// Script files read from disk through plat::Env in text mode: a line ends at
// LF or CR LF, a 0x1A byte ends the input, at most 1023 characters of a
// line are kept and the rest of that line is discarded. A file saved as
// UTF-16 (it starts with the byte-order mark FF FE or FE FF, or its first
// line holds NUL bytes) is not read: its first line, and every later one,
// gives ERR_UTF16_SCRIPT. A UTF-8 byte-order mark is read like any bytes.
const SourceInterface& UpdaterSourceInterface();

// Makes path the current source, pushing the one that was current. Returns
// 0, or raises (returns without a frame) -10 when it cannot be opened, -2.
int OpenSource(const char* path, const SourceInterface& source);
// Ends the current source; the one below becomes current again. Returns
// nonzero if a source remains open. Closing the last source frees the
// macro list.
int CloseSource();
// Closes every open source.
void CloseAllSources();
// The lexer's access to input: 0 with the read position at the next
// non-blank character, or TokenCode 26 (line end) / 25 (end of input); or a
// negative code.
int FetchLine();

// Current script file name ("" when no source is open) and line number.
const char* SourceCurrentName();
int SourceCurrentLine();
// Number of open sources (the script counts 1).
int SourceDepth();
