// Splitting a program's output or a log into its lines, and the log's rule line.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// The line of 75 '=' that the update log writes before each file directive.
inline const std::string kLogRule(75, '=');

// The lines of text, each ended by `end` (not kept); what follows the last
// `end` is left out.
inline std::vector<std::string> SplitLines(const std::string& text, const std::string& end) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t at; (at = text.find(end, start)) != std::string::npos; start = at + end.size()) {
    lines.push_back(text.substr(start, at - start));
  }
  return lines;
}

}  // namespace testing_support
