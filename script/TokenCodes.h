// Token codes of the script language, as the lexer returns them and the run
// loop and the update directives act on them, each with its spelling.
// 45, 55, 61 and 62 are never produced.
#pragma once

enum : int {
  TOK_OVERFLOW = 0,        // number that did not fit in 32 bits (with -60)
  TOK_PLUS = 1,            // "+"
  TOK_AIEXAMPLES = 2,      // "__AIEXAMPLES"
  TOK_ASSIGN = 3,          // "="
  TOK_LBRACE = 4,          // "{"
  TOK_COMMENT_OPEN = 5,    // "/*"
  TOK_BREAK = 6,           // "break"
  TOK_BUILD = 7,           // "build"
  TOK_CASE = 8,            // "case"
  TOK_CHARACTER = 9,       // character constant
  TOK_COLON = 10,          // ":"
  TOK_COMMA = 11,          // ","
  TOK_COMMENT_BODY = 12,   // comment body (only with comment tokens on)
  TOK_LINE_COMMENT = 13,   // "//"
  TOK_CONTINUE = 14,       // "continue"
  TOK_CUSTOM = 15,         // "__CUSTOM"
  TOK_DATA = 16,           // "__DATA"
  TOK_DEFAULT = 17,        // "default"
  TOK_SLASH = 18,          // "/"
  TOK_DO = 19,             // "do"
  TOK_DSTPATH = 20,        // "dstpath"
  TOK_EDITOR = 21,         // "__EDITOR"
  TOK_ELSE = 22,           // "else"
  TOK_RBRACE = 23,         // "}"
  TOK_COMMENT_CLOSE = 24,  // "*/"
  TOK_END_OF_INPUT = 25,   // end of the script (empty text)
  TOK_END_OF_LINE = 26,    // end of a line (text "\n")
  TOK_BACKSLASH = 27,      // "\"
  TOK_FILE = 28,           // "file"
  TOK_FOR = 29,            // "for"
  TOK_GOTO = 30,           // "goto"
  TOK_IDENTIFIER = 31,     // a name that is no keyword
  TOK_IF = 32,             // "if"
  TOK_INCLUDE = 33,        // "include"
  TOK_INSTTYPES = 34,      // "insttypes"
  TOK_NUMBER = 35,         // number (value in TokenValue.word)
  TOK_LBRACKET = 36,       // "["
  TOK_LPAREN = 37,         // "("
  TOK_MACRO = 38,          // "macro"
  TOK_MAIN = 39,           // "__MAIN"
  TOK_DOT = 40,            // "."
  TOK_MISSIONS = 41,       // "__MISSIONS"
  TOK_STAR = 42,           // "*"
  TOK_MUSIC = 43,          // "__MUSIC"
  TOK_RBRACKET = 44,       // "]"
  TOK_RETURN = 46,         // "return"
  TOK_RPAREN = 47,         // ")"
  TOK_SAVE = 48,           // "__SAVE"
  TOK_SEMICOLON = 49,      // ";"
  TOK_SETBUILD = 50,       // "setbuild"
  TOK_SETSERVER = 51,      // "setserver"
  TOK_SETVERSION = 52,     // "setversion"
  TOK_SETVERTYPE = 53,     // "setvertype"
  TOK_SOUND = 54,          // "__SOUND"
  TOK_STRING = 56,         // string constant (content in TokenString)
  TOK_MINUS = 57,          // "-"
  TOK_SWITCH = 58,         // "switch"
  TOK_SYSTEM = 59,         // "__SYSTEM"
  TOK_UPDATETYPE = 60,     // "updatetype"
  TOK_VERSION = 63,        // "version"
  TOK_VIDEO = 64,          // "__VIDEO"
  TOK_WHILE = 65,          // "while"
  TOK_OTHER = 66,          // a character of no token kind; also "no token yet"
};
