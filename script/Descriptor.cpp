// The updater's lexer descriptor: character classes, keywords, operators.
#include "script/Lexer.h"

namespace {

constexpr uint32_t kBlank = CC_BLANK;
constexpr uint32_t kOctal = 0x00E4;    // identifier part, decimal, hexadecimal, octal digit
constexpr uint32_t kDecimal = 0x0064;  // identifier part, decimal, hexadecimal digit
constexpr uint32_t kHexLetter = 0x0046;
constexpr uint32_t kLetter = 0x0006;
constexpr uint32_t kSingleOp = CC_OPERATOR | CC_SINGLE_OPERATOR;

struct ClassTable {
  uint32_t entry[256];
  constexpr ClassTable() : entry{} {
    auto range = [this](int from, int to, uint32_t value) {
      for (int c = from; c <= to; ++c) entry[c] = value;
    };
    range(0x00, 0x0C, kBlank);
    range(0x0E, 0x19, kBlank);
    range(0x1B, 0x20, kBlank);
    range(0x7F, 0x7F, kBlank);
    range(0xB0, 0xDF, kBlank);
    range(0xF2, 0xFF, kBlank);
    range('0', '7', kOctal);
    range('8', '9', kDecimal);
    range('A', 'Z', kLetter);
    range('a', 'z', kLetter);
    range('A', 'F', kHexLetter);
    range('a', 'f', kHexLetter);
    range('_', '_', kLetter);
    const unsigned char singles[] = {'(', ')', '+', ',', '-', '.', ':',
                                     ';', '=', '[', ']', '{', '}', '\\'};
    for (unsigned char c : singles) entry[c] = kSingleOp;
    range('*', '*', CC_OPERATOR);
    range('/', '/', CC_OPERATOR);
    range('"', '"', CC_STRING_QUOTE);
    range('\'', '\'', CC_CHAR_QUOTE);
  }
};

constexpr ClassTable kClasses;

// Sorted in ascending byte order: the lexer searches it by halving.
const LexKeyword kKeywords[] = {
    {"__AIEXAMPLES", TOK_AIEXAMPLES},
    {"__CUSTOM", TOK_CUSTOM},
    {"__DATA", TOK_DATA},
    {"__EDITOR", TOK_EDITOR},
    {"__MAIN", TOK_MAIN},
    {"__MISSIONS", TOK_MISSIONS},
    {"__MUSIC", TOK_MUSIC},
    {"__SAVE", TOK_SAVE},
    {"__SOUND", TOK_SOUND},
    {"__SYSTEM", TOK_SYSTEM},
    {"__VIDEO", TOK_VIDEO},
    {"break", TOK_BREAK},
    {"build", TOK_BUILD},
    {"case", TOK_CASE},
    {"continue", TOK_CONTINUE},
    {"default", TOK_DEFAULT},
    {"do", TOK_DO},
    {"dstpath", TOK_DSTPATH},
    {"else", TOK_ELSE},
    {"file", TOK_FILE},
    {"for", TOK_FOR},
    {"goto", TOK_GOTO},
    {"if", TOK_IF},
    {"include", TOK_INCLUDE},
    {"insttypes", TOK_INSTTYPES},
    {"macro", TOK_MACRO},
    {"return", TOK_RETURN},
    {"setbuild", TOK_SETBUILD},
    {"setserver", TOK_SETSERVER},
    {"setversion", TOK_SETVERSION},
    {"setvertype", TOK_SETVERTYPE},
    {"switch", TOK_SWITCH},
    {"updatetype", TOK_UPDATETYPE},
    {"version", TOK_VERSION},
    {"while", TOK_WHILE},
};

const LexOperator kOperators1[] = {
    {"(", TOK_LPAREN},
    {")", TOK_RPAREN},
    {"*", TOK_STAR},
    {"+", TOK_PLUS},
    {",", TOK_COMMA},
    {"-", TOK_MINUS},
    {".", TOK_DOT},
    {"/", TOK_SLASH},
    {":", TOK_COLON},
    {";", TOK_SEMICOLON},
    {"=", TOK_ASSIGN},
    {"[", TOK_LBRACKET},
    {"\\", TOK_BACKSLASH},
    {"]", TOK_RBRACKET},
    {"{", TOK_LBRACE},
    {"}", TOK_RBRACE},
    {"", 0},
};

const LexOperator kOperators2[] = {
    {"*/", TOK_COMMENT_CLOSE},
    {"/*", TOK_COMMENT_OPEN},
    {"//", TOK_LINE_COMMENT},
    {"", 0},
};

}  // namespace

const LexDescriptor& UpdaterDescriptor() {
  static const LexDescriptor descriptor = {
      static_cast<int>(sizeof kKeywords / sizeof kKeywords[0]),
      0,
      kClasses.entry,
      kKeywords,
      nullptr,
      kOperators1,
      kOperators2,
      nullptr,
  };
  return descriptor;
}
