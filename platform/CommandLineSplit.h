// Splitting a command line as WinExec takes it into a program path and its
// arguments, for backends that start programs without a shell.
#pragma once

#include <string>
#include <vector>

namespace plat {

// Words of commandLine as a Windows program started with it sees them.
// Blanks and tabs separate words; a double quote starts or ends a quoted
// part (blanks inside it belong to the word; the quotes are dropped) and ""
// inside a quoted part is one literal quote. The first word is the program
// path, where nothing else is special. In the arguments after it,
// backslashes are literal unless a double quote follows them, as the C
// runtime splits them: then 2n backslashes give n and the quote acts as
// above, 2n + 1 give n and a literal quote.
std::vector<std::string> SplitCommandLine(const char* commandLine);

}  // namespace plat
