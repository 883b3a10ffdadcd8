#include "platform/Console_posix.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/CodePage.h"
#include "platform/Terminal.h"

namespace plat {
namespace console {

namespace {

bool g_statusOpen = false;    // a status line stands on the cursor's line
bool g_pendingBreak = false;  // a "^C" stands where the cursor is

bool OnTerminal() { return TerminalColumns(StdStream::kError) > 0; }

// The encoding of the user's locale; empty for UTF-8 (and for a locale of
// ASCII alone, whose terminal is taken to be UTF-8).
const std::string& LocaleEncoding() {
  static const std::string encoding = [] {
    locale_t user = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (user == static_cast<locale_t>(nullptr)) return std::string();
    std::string name = nl_langinfo_l(CODESET, user);
    freelocale(user);
    if (name == "UTF-8" || name == "ANSI_X3.4-1968" || name == "US-ASCII") return std::string();
    return name;
  }();
  return encoding;
}

// Ends the line a status line or an echoed Ctrl-C holds.
void EndOpenLine() {
  std::fflush(stdout);
  if (g_statusOpen || g_pendingBreak) std::fputc('\n', stderr);
  g_statusOpen = false;
  g_pendingBreak = false;
}

}  // namespace

std::string ForDisplay(std::string_view text) {
  std::string utf8 = AnsiToUtf8(text);
  const std::string& encoding = LocaleEncoding();
  if (encoding.empty()) return utf8;
  static const iconv_t cd = iconv_open((encoding + "//TRANSLIT").c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return utf8;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string out;
  char* in = &utf8[0];
  size_t inLeft = utf8.size();
  char buf[1024];
  while (inLeft > 0) {
    char* o = buf;
    size_t oLeft = sizeof buf;
    const size_t rc = iconv(cd, &in, &inLeft, &o, &oLeft);
    out.append(buf, static_cast<size_t>(o - buf));
    if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
      out.push_back('?');  // a character the encoding cannot show
      ++in;
      --inLeft;
      while (inLeft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80) ++in, --inLeft;
    }
  }
  return out;
}

void Write(std::string_view text) {
  EndOpenLine();
  std::fputs(ForDisplay(text).c_str(), stderr);
  std::fflush(stderr);
}

void WriteOut(std::string_view text) {
  EndOpenLine();
  std::fflush(stderr);
  std::fputs(ForDisplay(text).c_str(), stdout);
  std::fflush(stdout);
}

void Status(std::string_view line) {
  if (!OnTerminal()) return;
  std::fflush(stdout);
  // An open line is drawn over (an echoed "^C" with it); a "^C" on a line
  // of its own is left above.
  if (!g_statusOpen && g_pendingBreak) std::fputc('\n', stderr);
  g_pendingBreak = false;
  std::fprintf(stderr, "\r%s\033[K", ForDisplay(line).c_str());
  std::fflush(stderr);
  g_statusOpen = true;
}

bool StatusOpen() { return g_statusOpen; }

void EndStatus() {
  if (!g_statusOpen) return;
  std::fputc('\n', stderr);
  std::fflush(stderr);
  g_statusOpen = false;
}

void Interrupted() {
  if (OnTerminal()) g_pendingBreak = true;
}

bool AnswerIsYes() {
  std::fflush(stdout);
  std::fflush(stderr);
  char line[256];
  const bool answered = std::fgets(line, sizeof line, stdin) != nullptr;
  // A terminal has echoed the answer's line end; nothing else has.
  if (!answered || isatty(STDIN_FILENO) == 0) {
    std::fputc('\n', stderr);
    std::fflush(stderr);
  }
  if (!answered) return false;
  const char* p = line;
  while (*p == ' ' || *p == '\t') ++p;
  return *p == 'y' || *p == 'Y';
}

}  // namespace console
}  // namespace plat
