// Terminal width of a console window; anything else is no terminal.
#include <windows.h>

#include "platform/Terminal.h"

namespace plat {

int TerminalColumns(StdStream stream) {
  HANDLE h = ::GetStdHandle(stream == StdStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (h == nullptr || h == INVALID_HANDLE_VALUE || !::GetConsoleMode(h, &mode)) return 0;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (::GetConsoleScreenBufferInfo(h, &info)) {
    const int width = info.srWindow.Right - info.srWindow.Left + 1;
    if (width > 0) return width;
  }
  return 80;
}

std::string ConsoleText(std::string_view text) { return std::string(text); }

}  // namespace plat
