#include "platform/CommandLineSplit.h"

namespace plat {

std::vector<std::string> SplitCommandLine(const char* commandLine) {
  std::vector<std::string> words;
  if (commandLine == nullptr) return words;
  const char* p = commandLine;
  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '\0') break;
    const bool program = words.empty();
    std::string word;
    bool quoted = false;
    while (*p != '\0') {
      if (*p == '\\' && !program) {
        size_t n = 0;
        while (p[n] == '\\') ++n;
        if (p[n] != '"') {
          word.append(n, '\\');
          p += n;
          continue;
        }
        word.append(n / 2, '\\');
        p += n;
        if (n % 2 == 1) {
          word += '"';
          ++p;
          continue;
        }
      }
      if (*p == '"') {
        if (quoted && p[1] == '"') {
          word += '"';
          ++p;
        } else {
          quoted = !quoted;
        }
      } else if (!quoted && (*p == ' ' || *p == '\t')) {
        break;
      } else {
        word += *p;
      }
      ++p;
    }
    words.push_back(word);
  }
  return words;
}

}  // namespace plat
