#include "platform/cmdline.h"

namespace plat {

std::vector<std::string> SplitCommandLine(const char* commandLine) {
  std::vector<std::string> words;
  if (commandLine == nullptr) return words;
  const char* p = commandLine;
  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '\0') break;
    std::string word;
    bool quoted = false;
    for (; *p != '\0'; ++p) {
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
    }
    words.push_back(word);
  }
  return words;
}

}  // namespace plat
