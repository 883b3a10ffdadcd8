// The token reader: `macro` and `include` statements, every other token
// handed on to the run loop.
#include "script/TokenReader.h"

#include <cstring>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/PathText.h"
#include "script/Macros.h"
#include "script/ScriptState.h"

namespace {

bool IsNameToken(int t) { return t == TOK_STRING || t == TOK_IDENTIFIER; }
const char* NameOf(int t) { return t == TOK_STRING ? TokenString : TokenText; }

// Reads tokens until a string or an identifier; other tokens are passed
// over. Returns its code, -6 when the line ends first, or an error.
int ReadNameOrValue(int t) {
  while (!IsNameToken(t)) {
    if (t < 0) return t;
    if (t == TOK_END_OF_LINE || t == TOK_END_OF_INPUT) {
      if (t == TOK_END_OF_INPUT) UngetToken(t);
      return ERR_MACRO_INCOMPLETE;
    }
    t = NextToken();
  }
  return t;
}

// After the keyword `macro`. Returns 1 when the statement's end-of-line
// token was read, 0 when the input ended instead, or an error code.
int MacroStatement() {
  LexFlags |= LEX_LINE_END_TOKENS;
  int t = ReadNameOrValue(NextToken());
  if (t < 0) return t;
  char name[kTokenTextMax + 1];
  std::strcpy(name, NameOf(t));
  t = ReadNameOrValue(NextToken());
  if (t < 0) return t;
  if (!(LexFlags & LEX_SKIP_STATEMENTS)) MacroSet(name, NameOf(t));
  for (;;) {
    t = NextToken();
    if (t < 0) return t;
    if (t == TOK_END_OF_LINE) return 1;
    if (t == TOK_END_OF_INPUT) {
      UngetToken(t);
      return 0;
    }
  }
}

// After the keyword `include`. Sets *reading when reading is to go on (an
// included file was opened, or the statement had no effect); otherwise
// returns the token reader's result: the last token read or an error.
int IncludeStatement(bool* reading) {
  *reading = false;
  int t = TOK_INCLUDE;
  while (!IsNameToken(t) && Line().pos < Line().length) {
    t = NextToken();
    if (t < 0) return t;
  }
  if (!IsNameToken(t)) return t;

  char path[kFileNameField] = {};
  bool fits = true;
  if (t == TOK_STRING) {
    fits = CopyBounded(path, sizeof path, TokenString);
  } else {
    const char* line = Line().line;
    const int len = Line().length;
    int p = Line().pos;
    while (p < len && (line[p] == ' ' || line[p] == '\t')) ++p;
    if (p < len && line[p] == ']') {
      // A bracketed name needs a resolver; a source without one cannot open it.
      const char* resolved = Line().source->SourceResolveName != nullptr
                                 ? Line().source->SourceResolveName(TokenText)
                                 : nullptr;
      if (resolved == nullptr || *resolved == '\0') return ERR_OPEN_FAILED;
      ++p;
      fits = CopyBounded(path, sizeof path, resolved);
      while (p < len && (line[p] == ' ' || line[p] == '\t')) ++p;
      if (p < len && line[p] == '\\' && EndsWithBackslash(path))
        path[std::strlen(path) - 1] = '\0';
      else if (p < len && line[p] != '>' && !EndsWithBackslash(path))
        fits = fits && AppendBounded(path, sizeof path, "\\");
    } else {
      p = Line().tokenStart;
    }
    size_t n = std::strlen(path);
    for (; p < len && line[p] != '>' && line[p] != ' ' && line[p] != '\t'; ++p) {
      if (n + 1 >= sizeof path) {
        fits = false;
        break;
      }
      path[n++] = line[p];
    }
    path[n] = '\0';
  }

  if (LexFlags & LEX_SKIP_STATEMENTS) {
    Line().pos = Line().length;
    *reading = true;
    return 0;
  }
  // A name too long for the file-name field is refused as OpenSource does.
  if (!fits) return ERR_OPEN_FAILED;
  if (SourceDepth() >= kMaxSourceDepth) return ERR_INCLUDE_TOO_DEEP;
  const SourceInterface& source = *Line().source;
  int code = Guard([&] {
    OpenSource(path, source);
    if (source.SourceNotify != nullptr) source.SourceNotify(path, 1);
  });
  if (code != 0) return code;
  LexFlags |= LEX_INCLUDED;
  *reading = true;
  return 0;
}

}  // namespace

int ReadToken() {
  const uint16_t lineEnds = LexFlags & LEX_LINE_END_TOKENS;
  auto restore = [lineEnds] {
    LexFlags = static_cast<uint16_t>((LexFlags & ~LEX_LINE_END_TOKENS) | lineEnds);
  };
  for (;;) {
    int t = NextToken();
    if (t < 0) {
      restore();
      return t;
    }
    if (t == TOK_MACRO) {
      int r = MacroStatement();
      restore();
      if (r < 0) return r;
      // The caller sees the statement line's end-of-line token and nothing else of it.
      if (r == 1 && lineEnds) UngetToken(TOK_END_OF_LINE);
      continue;
    }
    restore();
    if (t == TOK_INCLUDE && (LexFlags & LEX_INCLUDE_ON)) {
      bool reading = false;
      int r = IncludeStatement(&reading);
      restore();
      if (reading) continue;
      return r;
    }
    return t;
  }
}

int OpenScript(const char* path) {
  int code = Guard([&] { OpenSource(path, UpdaterSourceInterface()); });
  if (code != 0) return code;
  SetLineEndTokens(1);
  SetCommentTokens(0);
  SetKeywordCase(1);
  SetKeepCase(1);
  SetDescriptor(UpdaterDescriptor());
  return 0;
}
