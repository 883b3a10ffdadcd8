// Whether a standard stream writes to a terminal, and how wide it is: what
// a program needs to redraw one status line in place, or to keep quiet
// when its output goes to a file or a pipe.
#pragma once

namespace plat {

enum class StdStream { kOutput, kError };

// The width in columns of the terminal the stream writes to, or 0 when it
// writes to something else (a file, a pipe, the null device). POSIX: the
// window size the terminal reports, then COLUMNS, then 80. Windows: the
// console window's width.
int TerminalColumns(StdStream stream);

}  // namespace plat
