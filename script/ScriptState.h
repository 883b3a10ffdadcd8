// Line state shared by the source input, the lexer and the token reader
// (internal to the script layer).
#pragma once

#include "script/Source.h"

constexpr int kFileNameField = 261;   // 260 characters of a path and the terminator
constexpr int kLineBufferSize = 1025; // a read line holds at most 1023 characters

struct LineState {
  char* line = nullptr;       // the current line, NUL-terminated; grows with macros
  int capacity = 0;           // bytes allocated for line
  int length = 0;             // characters in line; -1 once the current file is exhausted
  int pos = 1;                // read position; past length means "read a line"
  int tokenStart = 0;
  bool continued = false;     // the line ended in a backslash
  int lineNumber = 0;         // lines read from the current source
  char fileName[kFileNameField] = {};
  void* handle = nullptr;
  const SourceInterface* source = nullptr;
  int scanState = 0;          // token code current when the lexer was last entered
  int pushedBack = -1;        // UngetToken slot, -1 when empty
};
extern LineState g_line;

// Whether c is of class blank in the installed descriptor.
bool LexIsBlank(unsigned char c);

// Makes sure the line buffer holds at least bytes bytes (raises -2).
void LineReserve(int bytes);
