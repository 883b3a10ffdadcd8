// POSIX only: the console that stands in for the dialogs. A person reads
// standard error (message boxes, questions, the progress status line) and
// standard output (the completion message and the report), and answers on
// standard input. Texts are bytes of the ANSI code page; they reach the
// console in the encoding of the user's locale (UTF-8 when it names none
// but ASCII, as a C locale does). Whether standard error is a terminal, and
// its width, is plat::TerminalColumns (Terminal.h).
#pragma once

#include <string>
#include <string_view>

namespace plat {
namespace console {

// text in the console's encoding.
std::string ForDisplay(std::string_view text);

// Writes text to standard error, on a line of its own when a status line
// stands open or the terminal has echoed a Ctrl-C.
void Write(std::string_view text);
// Writes text to standard output, likewise.
void WriteOut(std::string_view text);

// Draws line as the status line, in place of the one before it: on the
// terminal's current line, left open for the next draw. Terminals only.
void Status(std::string_view line);
// True while a status line stands open.
bool StatusOpen();
// Ends an open status line, so what follows starts on a line of its own.
void EndStatus();

// The terminal has echoed a Ctrl-C ("^C") where the cursor was: the next
// output starts on a new line.
void Interrupted();

// Reads the answer to a question just written: true only for a line that
// starts with 'y' or 'Y' (after blanks). Anything else is No, and so is the
// end of input (a line end is then written, so that what follows starts
// on a line of its own): a program is never started without a yes.
bool AnswerIsYes();

}  // namespace console
}  // namespace plat
