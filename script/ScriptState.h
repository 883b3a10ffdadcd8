// What the script layer keeps between calls, besides the current token of
// Lexer.h: the current line, the lexer's settings, the stack of sources and
// the macro list. There is one script reader in the process, so there is
// one ScriptState (Script()); ResetScriptState() puts it back as it is at
// start (internal to the script layer; tests call the reset).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "script/Lexer.h"
#include "script/Source.h"

constexpr int kFileNameField = 261;    // 260 characters of a path and the terminator
constexpr int kLineBufferSize = 1025;  // a read line holds at most 1023 characters

struct LineState {
  char* line = nullptr;  // the current line, NUL-terminated; grows with macros
  int capacity = 0;      // bytes allocated for line
  int length = 0;        // characters in line; -1 once the current file is exhausted
  int pos = 1;           // read position; past length means "read a line"
  int tokenStart = 0;
  bool continued = false;  // the line ended in a backslash
  int lineNumber = 0;      // lines read from the current source
  char fileName[kFileNameField] = {};
  void* handle = nullptr;
  const SourceInterface* source = nullptr;
  int scanState = 0;    // token code current when the lexer was last entered
  int pushedBack = -1;  // UngetToken slot, -1 when empty
};

// The state of the source that was current before a source was opened
// (for the script itself, the empty state of no source).
struct SourceRecord {
  std::unique_ptr<SourceRecord> next;
  void* handle = nullptr;
  const SourceInterface* source = nullptr;
  uint16_t flags = 0;
  int tokenCode = 0;
  int scanState = 0;
  std::string tokenText;
  std::string fileName;
  int lineNumber = 0;
  TokenValueWord value;
  std::string stringBuffer;
};

// One macro; the list is kept in definition order.
struct Macro {
  Macro* next;
  char* name;
  char* value;
};

struct ScriptState {
  LineState line;
  LexDescriptor descriptor = UpdaterDescriptor();  // the installed descriptor
  int keywordCaseSensitive = 0;
  bool lineCommentBody = false;           // with comment tokens on: "//" was returned
  std::unique_ptr<SourceRecord> sources;  // the stack of sources, innermost first
  Macro* macros = nullptr;                // first defined first
};

ScriptState& Script();
// The current line: Script().line.
inline LineState& Line() { return Script().line; }

// Closes every source, frees the line and the macros, and returns the
// token, the lexer flags and all of ScriptState to their state at start.
void ResetScriptState();

// Whether c is of class blank in the installed descriptor.
bool LexIsBlank(unsigned char c);

// Makes sure the line buffer holds at least bytes bytes (raises -2).
void LineReserve(int bytes);
