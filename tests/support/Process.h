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
  // Called with the output so far whenever more arrives; returning true
  // sends the program SIGINT (once).
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

}  // namespace testing_support
