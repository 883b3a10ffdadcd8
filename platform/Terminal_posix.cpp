// Terminal width from the window size, COLUMNS, or the classic 80.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/Console_posix.h"
#include "platform/Terminal.h"

namespace plat {

int TerminalColumns(StdStream stream) {
  const int fd = stream == StdStream::kOutput ? STDOUT_FILENO : STDERR_FILENO;
  if (isatty(fd) == 0) return 0;
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  if (const char* columns = std::getenv("COLUMNS")) {
    char* end = nullptr;
    const long n = std::strtol(columns, &end, 10);
    if (end != columns && *end == '\0' && n > 0 && n < 10000) return static_cast<int>(n);
  }
  return 80;
}

std::string ConsoleText(std::string_view text) { return console::ForDisplay(text); }

}  // namespace plat
