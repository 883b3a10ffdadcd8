// Splitting a command line as WinExec takes it into a program path and its
// arguments, for backends that start programs without a shell.
#pragma once

#include <string>
#include <vector>

namespace plat {

// Words of commandLine: blanks and tabs separate them, a double quote starts
// or ends a quoted part (blanks inside it belong to the word; the quotes are
// dropped) and "" inside a quoted part is one literal quote. The first word is
// the program path. No other character is special: backslashes are path
// separators, not escapes.
std::vector<std::string> SplitCommandLine(const char* commandLine);

}  // namespace plat
