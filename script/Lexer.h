// The lexer: turns the current script line into tokens, one per NextToken
// call. It is table-driven (a LexDescriptor gives the character classes,
// keywords and operators) and reads characters only through FetchLine
// (script/Source.h). All state is process-wide; there is one lexer.
#pragma once

#include <cstdint>

#include "script/TokenCodes.h"

// Token text and string buffers hold at most this many characters.
constexpr int kTokenTextMax = 1024;

// The current token: valid until the next NextToken call.
struct TokenValueWord {
  // Number (35): the unsigned value. Character constant (9): the code of its
  // first character, sign-extended from 8 bits (0 when empty).
  uint32_t word = 0;
  // String (56): the decoded content (TokenString), quotes removed.
  const char* string = nullptr;
};
extern int TokenCode;
extern char TokenText[kTokenTextMax + 1];    // the spelling as written; "\n" at a line end
extern char TokenString[kTokenTextMax + 1];  // decoded content of the last quoted constant
extern TokenValueWord TokenValue;

// Character class bits (one 32-bit word per byte value).
enum : uint32_t {
  CC_BLANK = 0x0001,
  CC_IDENT_START = 0x0002,
  CC_IDENT_PART = 0x0004,
  CC_DIGIT = 0x0020,
  CC_HEX_DIGIT = 0x0040,    // stored, not consulted
  CC_OCTAL_DIGIT = 0x0080,  // stored, not consulted
  CC_OPERATOR = 0x0100,
  CC_SINGLE_OPERATOR = 0x0200,
  CC_CHAR_QUOTE = 0x0800,
  CC_STRING_QUOTE = 0x1000,
};

struct LexKeyword {
  const char* spelling;
  int code;
};
// An operator of one, two or three characters; a table ends at an entry
// whose text is empty.
struct LexOperator {
  char text[4];
  int code;
};
struct LexDescriptor {
  int keywordCount;
  int lineStartKeywordCount;
  const uint32_t* charClass;            // 256 entries, indexed by unsigned byte
  const LexKeyword* keywords;           // sorted by spelling (byte order)
  const LexKeyword* lineStartKeywords;  // may be null
  const LexOperator* operators1;
  const LexOperator* operators2;
  const LexOperator* operators3;  // may be null
};

// The updater's descriptor: its class table, 35 keywords and operators.
const LexDescriptor& UpdaterDescriptor();

// Lexer flags (16 bits): modes and state, shared with the source input and
// the token reader.
enum : uint16_t {
  LEX_LINE_END_TOKENS = 0x0001,  // report line ends as token 26
  LEX_COMMENT_TOKENS = 0x0004,   // return comment delimiters and bodies
  LEX_IN_COMMENT = 0x0008,       // state: inside a block comment
  LEX_END_OF_INPUT = 0x0010,     // state: end of input reached
  LEX_INCLUDED = 0x0080,         // state: current source is an included file
  LEX_KEEP_CASE = 0x0100,        // keep token text as written (else upper case)
  LEX_INCLUDE_ON = 0x0200,       // honour `include`
  LEX_MACROS_ON = 0x0400,        // substitute macros in each line read
  LEX_SKIP_STATEMENTS = 0x0800,  // read `macro`/`include` without effect
};
extern uint16_t LexFlags;
// The flags at start and whenever a script is opened as the first source.
constexpr uint16_t kLexStartFlags = LEX_INCLUDE_ON | LEX_MACROS_ON;

// Next token: its code (>= 0) or a negative error code (-60, -210, -14, or
// a code from the line input). Sets TokenCode, TokenText and TokenValue.
int NextToken();
// One token of push-back: the next NextToken returns code without reading.
void UngetToken(int code);

// Installs a descriptor (copied) and returns the one it replaces.
LexDescriptor SetDescriptor(const LexDescriptor& descriptor);
// Nonzero: keywords compare case-sensitively. Returns the previous setting.
int SetKeywordCase(int caseSensitive);
// Bit-change rule on the low 8 bits of mode: 0 clears, 1 sets, 2 and more
// toggle. Each returns the new flags word.
int SetKeepCase(int mode);
int SetLineEndTokens(int mode);
int SetCommentTokens(int mode);
