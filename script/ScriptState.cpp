#include "script/ScriptState.h"

#include "script/Macros.h"

ScriptState& Script() {
  static ScriptState state;
  return state;
}

void ResetScriptState() {
  CloseAllSources();  // the last close frees the line buffer and the macros
  Script() = ScriptState();
  TokenCode = TOK_OTHER;
  TokenText[0] = '\0';
  TokenString[0] = '\0';
  TokenValue = TokenValueWord();
  LexFlags = kLexStartFlags;
}
