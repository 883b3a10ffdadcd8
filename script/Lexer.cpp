// The lexer: one token per NextToken call from the current line.
#include "script/Lexer.h"

#include <cstring>

#include "ourlib/src/ErrorCodes.h"
#include "script/ScriptState.h"
#include "script/Source.h"

int TokenCode = TOK_OTHER;
char TokenText[kTokenTextMax + 1];
char TokenString[kTokenTextMax + 1];
TokenValueWord TokenValue;
uint16_t LexFlags = kLexStartFlags;

namespace {

const uint32_t kNoClasses[256] = {};

LexDescriptor& Installed() { return Script().descriptor; }

uint32_t ClassOf(unsigned char c) {
  const uint32_t* table = Installed().charClass;
  return (table != nullptr ? table : kNoClasses)[c];
}

uint32_t ClassAt(int i) { return ClassOf(static_cast<unsigned char>(Line().line[i])); }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
unsigned char Lower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// Copies the spelling line[from, to) into the token text, cut at
// kTokenTextMax characters, in upper case unless the case is kept.
void CopySpelling(int from, int to, bool upper) {
  int n = to - from;
  if (n > kTokenTextMax) n = kTokenTextMax;
  if (n < 0) n = 0;
  for (int i = 0; i < n; ++i) {
    char c = Line().line[from + i];
    TokenText[i] = upper ? Upper(c) : c;
  }
  TokenText[n] = '\0';
}

void SetText(int from, int to) { CopySpelling(from, to, (LexFlags & LEX_KEEP_CASE) == 0); }

int CompareKeyword(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char x = static_cast<unsigned char>(*a);
    unsigned char y = static_cast<unsigned char>(*b);
    if (!Script().keywordCaseSensitive) {
      x = Lower(x);
      y = Lower(y);
    }
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

int FindKeyword(const LexKeyword* table, int count, const char* spelling) {
  if (table == nullptr) return -1;
  int low = 0;
  int high = count - 1;
  while (low <= high) {
    int mid = low + (high - low) / 2;
    int cmp = CompareKeyword(spelling, table[mid].spelling);
    if (cmp == 0) return table[mid].code;
    if (cmp > 0)
      low = mid + 1;
    else
      high = mid - 1;
  }
  return -1;
}

// The code of the operator of n characters at line[at], or -1.
int FindOperator(const LexOperator* table, int at, int n) {
  if (table == nullptr) return -1;
  for (; table->text[0] != '\0'; ++table) {
    if (std::strncmp(table->text, Line().line + at, static_cast<size_t>(n)) == 0 &&
        table->text[n] == '\0')
      return table->code;
  }
  return -1;
}

// Operator at pos: sets *length and returns the code, or -1 when the
// character is in no operator table.
int MatchOperator(int pos, int* length) {
  const LexDescriptor& d = Installed();
  const int len = Line().length;
  auto joinable = [](uint32_t cls) { return (cls & CC_OPERATOR) && !(cls & CC_SINGLE_OPERATOR); };
  if (d.operators3 != nullptr && pos + 2 < len && joinable(ClassAt(pos)) &&
      joinable(ClassAt(pos + 1)) && joinable(ClassAt(pos + 2))) {
    int code = FindOperator(d.operators3, pos, 3);
    if (code >= 0) {
      *length = 3;
      return code;
    }
  }
  if (pos + 1 < len && joinable(ClassAt(pos)) && joinable(ClassAt(pos + 1))) {
    int code = FindOperator(d.operators2, pos, 2);
    if (code >= 0) {
      *length = 2;
      return code;
    }
  }
  *length = 1;
  return FindOperator(d.operators1, pos, 1);
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int ReadNumber() {
  const char* line = Line().line;
  const int len = Line().length;
  const int start = Line().pos;
  int p = start;
  uint32_t base = 10;
  if (line[p] == '0' && p + 1 < len) {
    unsigned char second = Lower(static_cast<unsigned char>(line[p + 1]));
    if (second == 'b') base = 2;
    if (second == 'x') base = 16;
  }
  int afterPrefix = p;
  if (base != 10) {
    p += 2;
    afterPrefix = p;
    while (p < len && (line[p] == ' ' || line[p] == '\t' || line[p] == '\r' || line[p] == '\f' ||
                       line[p] == '\v'))
      ++p;
  }
  uint64_t value = 0;
  bool anyDigit = false;
  while (p < len) {
    int digit = DigitValue(line[p]);
    if (digit < 0 || static_cast<uint32_t>(digit) >= base) break;
    value = value * base + static_cast<uint32_t>(digit);
    anyDigit = true;
    ++p;
    if (value > 0xFFFFFFFFull) {
      while (p < len && (ClassAt(p) & CC_DIGIT)) ++p;
      Line().pos = p;
      SetText(start, p);
      TokenCode = TOK_OVERFLOW;
      return ERR_NUMBER_OVERFLOW;
    }
  }
  if (!anyDigit) {
    // A prefix without digits is a character of no kind; lexing goes on
    // right after the prefix.
    Line().pos = afterPrefix;
    SetText(start, afterPrefix);
    return TokenCode = TOK_OTHER;
  }
  Line().pos = p;
  SetText(start, p);
  TokenValue.word = static_cast<uint32_t>(value);
  return TokenCode = TOK_NUMBER;
}

int ReadQuoted(bool isString) {
  const char* line = Line().line;
  const int len = Line().length;
  const int start = Line().pos;
  const char quote = line[start];
  int p = start + 1;
  int out = 0;
  bool closed = false;
  while (p < len) {
    char c = line[p];
    if (c == quote) {
      ++p;
      closed = true;
      break;
    }
    if (c == '\\') {
      if (p + 1 >= len) {
        p = len;  // nothing left to escape: the constant stays open
        break;
      }
      char next = line[p + 1];
      p += 2;
      if (next == quote)
        c = quote;
      else if (next == 'f')
        c = '\f';
      else if (next == 'n')
        c = '\n';
      else if (next == 'r')
        c = '\r';
      else if (next == 't')
        c = '\t';
      else
        c = '\\';  // the escaped character is dropped
    } else {
      ++p;
    }
    // Content past the buffer is cut (only a macro-lengthened line can hold it).
    if (out < kTokenTextMax) TokenString[out++] = c;
  }
  TokenString[out] = '\0';
  TokenCode = isString ? TOK_STRING : TOK_CHARACTER;
  if (isString)
    TokenValue.string = TokenString;
  else
    TokenValue.word =
        static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(TokenString[0])));
  SetText(start, p);
  if (!closed) {
    Line().pos = len + 1;
    return ERR_UNCLOSED_STRING;
  }
  Line().pos = p;
  return TokenCode;
}

// Inside a block comment with comment tokens on: the body up to "*/" or the
// line end as one token, then "*/" itself.
int CommentBodyToken() {
  const int start = Line().pos;
  int p = start;
  while (p < Line().length) {
    int n = 0;
    if ((ClassAt(p) & CC_OPERATOR) && MatchOperator(p, &n) == TOK_COMMENT_CLOSE && n == 2) break;
    ++p;
  }
  if (p > start) {
    Line().pos = p;
    SetText(start, p);
    return TokenCode = TOK_COMMENT_BODY;
  }
  Line().pos = p + 2;
  LexFlags &= static_cast<uint16_t>(~LEX_IN_COMMENT);
  SetText(p, p + 2);
  return TokenCode = TOK_COMMENT_CLOSE;
}

// Scans a block comment: true when "*/" ended it on this line, false when
// the line ended first.
bool SkipCommentOnLine() {
  while (Line().pos < Line().length) {
    if (!(ClassAt(Line().pos) & CC_OPERATOR)) {
      ++Line().pos;
      continue;
    }
    int n = 1;
    int code = MatchOperator(Line().pos, &n);
    Line().pos += n;
    if (code == TOK_COMMENT_CLOSE && n == 2) {
      LexFlags &= static_cast<uint16_t>(~LEX_IN_COMMENT);
      return true;
    }
  }
  return false;
}

}  // namespace

bool LexIsBlank(unsigned char c) { return (ClassOf(c) & CC_BLANK) != 0; }

int NextToken() {
  Line().scanState = TokenCode;
  if (Line().pushedBack >= 0) {
    TokenCode = Line().pushedBack;
    Line().pushedBack = -1;
    return TokenCode;
  }
  const bool commentTokens = (LexFlags & LEX_COMMENT_TOKENS) != 0;
  for (;;) {
    int r = FetchLine();
    if (r < 0) return r;
    if (TokenCode == TOK_END_OF_LINE) {
      Script().lineCommentBody = false;
      std::strcpy(TokenText, "\n");
      return TokenCode;
    }
    if (TokenCode == TOK_END_OF_INPUT) {
      Script().lineCommentBody = false;
      TokenText[0] = '\0';
      return TokenCode;
    }
    if (LexFlags & LEX_IN_COMMENT) {
      if (commentTokens) return CommentBodyToken();
      SkipCommentOnLine();
      continue;  // a line end inside the comment comes from the line fetch
    }
    const int len = Line().length;
    const int start = Line().pos;
    Line().tokenStart = start;
    if (Script().lineCommentBody) {
      Script().lineCommentBody = false;
      Line().pos = len;
      SetText(start, len);
      return TokenCode = TOK_COMMENT_BODY;
    }
    const uint32_t cls = ClassAt(start);
    if (cls & CC_IDENT_START) {
      int p = start + 1;
      while (p < len && (ClassAt(p) & CC_IDENT_PART)) ++p;
      Line().pos = p;
      // Keywords are looked up in the spelling as written.
      CopySpelling(start, p, false);
      const LexDescriptor& d = Installed();
      int code = -1;
      if (start == 0 && d.lineStartKeywordCount > 0)
        code = FindKeyword(d.lineStartKeywords, d.lineStartKeywordCount, TokenText);
      if (code < 0) code = FindKeyword(d.keywords, d.keywordCount, TokenText);
      SetText(start, p);
      return TokenCode = code >= 0 ? code : TOK_IDENTIFIER;
    }
    if (cls & CC_DIGIT) return ReadNumber();
    if (cls & (CC_STRING_QUOTE | CC_CHAR_QUOTE)) return ReadQuoted((cls & CC_STRING_QUOTE) != 0);
    if (cls & CC_OPERATOR) {
      int n = 1;
      int code = MatchOperator(start, &n);
      Line().pos = start + n;
      SetText(start, start + n);
      if (code == TOK_COMMENT_OPEN) {
        LexFlags |= LEX_IN_COMMENT;
        if (commentTokens) return TokenCode = code;
        continue;
      }
      if (code == TOK_LINE_COMMENT) {
        if (commentTokens) {
          Script().lineCommentBody = true;
          return TokenCode = code;
        }
        Line().pos = len;
        continue;
      }
      if (code == TOK_COMMENT_CLOSE) {
        if (commentTokens) return TokenCode = code;
        continue;
      }
      return TokenCode = code >= 0 ? code : TOK_OTHER;
    }
    Line().pos = start + 1;
    SetText(start, start + 1);
    return TokenCode = TOK_OTHER;
  }
}

void UngetToken(int code) { Line().pushedBack = code; }

LexDescriptor SetDescriptor(const LexDescriptor& descriptor) {
  LexDescriptor previous = Installed();
  Installed() = descriptor;
  return previous;
}

int SetKeywordCase(int caseSensitive) {
  int previous = Script().keywordCaseSensitive;
  Script().keywordCaseSensitive = caseSensitive != 0 ? 1 : 0;
  return previous;
}

namespace {
int ChangeFlag(uint16_t bit, int mode) {
  switch (mode & 0xFF) {
    case 0:
      LexFlags &= static_cast<uint16_t>(~bit);
      break;
    case 1:
      LexFlags |= bit;
      break;
    default:
      LexFlags ^= bit;
      break;
  }
  return LexFlags;
}
}  // namespace

int SetKeepCase(int mode) { return ChangeFlag(LEX_KEEP_CASE, mode); }
int SetLineEndTokens(int mode) { return ChangeFlag(LEX_LINE_END_TOKENS, mode); }
int SetCommentTokens(int mode) { return ChangeFlag(LEX_COMMENT_TOKENS, mode); }
