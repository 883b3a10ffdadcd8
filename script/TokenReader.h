// The token reader: the script language's entry point for the run loop.
// It reads tokens from the lexer, carries out `macro` and `include`
// statements, and hands every other token on.
#pragma once

#include "ourlib/src/ErrorCodes.h"
#include "script/Lexer.h"
#include "script/Source.h"

constexpr int kMaxSourceDepth = 32;   // the script and 31 nested includes
constexpr int kMaxLineLength = 8191;  // characters of a line after macro substitution

// Next token for the run loop: its code (>= 0) or a negative error code.
int ReadToken();

// Opens the script as the run loop does: the updater's source interface,
// then line-end tokens on, comment tokens off, case-sensitive keywords,
// keep case, the updater's descriptor. Returns 0 or the error code (-10
// when the script cannot be opened); raises nothing.
int OpenScript(const char* path);
