// Whether a standard stream writes to a terminal, and how wide it is: what
// a program needs to redraw one status line in place, or to keep quiet
// when its output goes to a file or a pipe.
#pragma once

#include <string>
#include <string_view>

namespace plat {

enum class StdStream { kOutput, kError };

// The width in columns of the terminal the stream writes to, or 0 when it
// writes to something else (a file, a pipe, the null device). POSIX: the
// window size the terminal reports, then COLUMNS, then 80. Windows: the
// console window's width.
int TerminalColumns(StdStream stream);

// Text of the ANSI code page as a program writes it to standard output or
// error, whether these are a terminal, a file or a pipe. Windows: unchanged.
// POSIX: in the encoding of the user's locale, as the console that stands in
// for the dialogs writes it (console::ForDisplay). 7-bit text is unchanged.
std::string ConsoleText(std::string_view text);

}  // namespace plat
