// Running a program as a test's subject: its arguments, environment
// additions and standard input; its exit status and what it wrote.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

struct ProcessResult {
  int status = -1;  // exit status (0..255); 128 + signal when killed
  std::string out;  // standard output
  std::string err;  // standard error
};

struct ProcessOptions {
  std::string workingDir;                // empty: the test's own
  std::vector<std::string> environment;  // "NAME=value" added to the test's own
  std::string input;                     // standard input, then end of input
  // Called with the standard error so far whenever more arrives; returning
  // true sends the program SIGINT (once).
  std::function<bool(const std::string&)> interruptWhen;
  // When not negative: the program gets signalNumber this many microseconds
  // after it was started (once), whatever it is doing.
  long signalAfterUs = -1;
  int signalNumber = 9;
  // When above 0: standard error is a pseudo-terminal this many columns
  // wide (and 24 rows high), and err holds what the program drew on it.
  int terminalColumns = 0;
};

// Runs program with args (argv[0] is program) and waits for it.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options = {});

// A program on a terminal of its own (a pseudo-terminal that is its
// standard input, output and error), and what a person types at it.
struct TerminalOptions {
  std::string workingDir;                // empty: the test's own
  std::vector<std::string> environment;  // "NAME=value" added to the test's own
  unsigned short columns = 80;           // the terminal's width; 0: it tells none
  // Typed in order: once the output shows `after` (past where the step
  // before found its own), `keys` ("\x03" is Ctrl-C, "\x04" at the start of
  // a line the end of input).
  struct Typing {
    std::string after;
    std::string keys;
  };
  std::vector<Typing> typing;
};

struct TerminalResult {
  int status = -1;     // as ProcessResult's
  std::string output;  // everything the terminal showed, its echoes included
};

// Runs program with args (argv[0] is program, relative to workingDir when
// it has no folder) on a terminal and waits for it (two minutes at most).
TerminalResult RunInTerminal(const std::string& program, const std::vector<std::string>& args,
                             const TerminalOptions& options);

}  // namespace testing_support
