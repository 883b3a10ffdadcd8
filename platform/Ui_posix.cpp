// The console in place of message boxes, and the string table the program
// hands over (built from the list the Windows resources are made of).
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/Console_posix.h"
#include "platform/Terminal.h"
#include "platform/Ui.h"

namespace plat {

namespace {

// The program's string table (SetStringTable).
const ResString* g_strings = nullptr;
size_t g_stringCount = 0;

class ConsoleUi : public Ui {
 public:
  // A Yes/No box is asked as "[y/N]" whatever its default button: only a
  // yes is Yes, and the end of input is No.
  int ShowMessageBox(const char* text, const char* caption, uint32_t flags) override {
    console::Write("[" + std::string(caption != nullptr ? caption : "") + "]\n" +
                   (text != nullptr ? text : "") + "\n");
    if ((flags & 0x0F) != kMbYesNo) return kIdOk;
    console::Write("[y/N] ");
    return console::AnswerIsYes() ? kIdYes : kIdNo;
  }

  void Beep(uint32_t) override {
    if (TerminalColumns(StdStream::kError) > 0) {
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
