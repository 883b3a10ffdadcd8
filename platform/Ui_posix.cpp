// The console in place of message boxes, and the string table the program
// hands over (built from the list the Windows resources are made of).
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/Ui.h"

namespace plat {

namespace {

// The program's string table (SetStringTable).
const ResString* g_strings = nullptr;
size_t g_stringCount = 0;

// Reads one answer line; true with *yes set when the line said yes or no.
bool ReadAnswer(bool* yes) {
  char line[256];
  if (std::fgets(line, sizeof line, stdin) == nullptr) return false;
  const char* p = line;
  while (*p == ' ' || *p == '\t') ++p;
  if (*p == 'y' || *p == 'Y') {
    *yes = true;
    return true;
  }
  if (*p == 'n' || *p == 'N') {
    *yes = false;
    return true;
  }
  return false;
}

class ConsoleUi : public Ui {
 public:
  int ShowMessageBox(const char* text, const char* caption, uint32_t flags) override {
    std::fprintf(stderr, "[%s]\n%s\n", caption != nullptr ? caption : "",
                 text != nullptr ? text : "");
    if ((flags & 0x0F) != kMbYesNo) {
      std::fflush(stderr);
      return kIdOk;
    }
    bool defaultYes = (flags & kMbDefButton2) == 0;
    std::fprintf(stderr, "%s ", defaultYes ? "[Y/n]" : "[y/N]");
    std::fflush(stderr);
    bool yes = defaultYes;
    if (!ReadAnswer(&yes)) yes = defaultYes;  // end of input or no answer: the default button
    return yes ? kIdYes : kIdNo;
  }

  void Beep(uint32_t) override {
    if (isatty(STDERR_FILENO)) {
      std::fputc('\a', stderr);
      std::fflush(stderr);
    }
  }

  int LoadResString(int id, char* buf, int capacity) override {
    if (buf == nullptr || capacity <= 0) return 0;
    buf[0] = '\0';
    for (size_t i = 0; i < g_stringCount; ++i) {
      const ResString& e = g_strings[i];
      if (e.id != id) continue;
      size_t n = std::strlen(e.text);
      if (n > static_cast<size_t>(capacity) - 1) n = static_cast<size_t>(capacity) - 1;
      std::memcpy(buf, e.text, n);
      buf[n] = '\0';
      return static_cast<int>(n);
    }
    return 0;
  }
};

}  // namespace

Ui* BackendUi() {
  static ConsoleUi ui;
  return &ui;
}

bool UseResourcesOf(const char*) { return true; }

void SetStringTable(const ResString* table, size_t count) {
  g_strings = table;
  g_stringCount = table != nullptr ? count : 0;
}

}  // namespace plat
