#include "app/UpdateLog.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "app/AppState.h"
#include "ourlib/src/PathText.h"
#include "platform/NativePath.h"

namespace {

// Writes text with every "\n" as CR LF, the way a Windows text-mode stream
// does, so the file is the same on every build. Write errors are ignored.
void PutText(const char* text) {
  std::FILE* log = App().log.stream.get();
  for (const char* p = text; *p != '\0';) {
    const char* nl = std::strchr(p, '\n');
    size_t n = nl != nullptr ? static_cast<size_t>(nl - p) : std::strlen(p);
    if (n > 0) std::fwrite(p, 1, n, log);
    if (nl == nullptr) break;
    std::fputs("\r\n", log);
    p = nl + 1;
  }
}

}  // namespace

void ResolveLogPath(const char* value, const char* updaterDrive, const char* updaterDir,
                    char* out) {
  PathParts parts;
  SplitPath(value, &parts);
  MakePath(out, kPathField, parts.drive[0] != '\0' ? parts.drive : updaterDrive,
           parts.dir[0] != '\0' ? parts.dir : updaterDir,
           parts.fname[0] != '\0' ? parts.fname : "updlog",
           parts.ext[0] != '\0' ? parts.ext : ".txt");
}

void OpenLog(const char* argv0) {
  UpdateLogState& state = App().log;
  if (!state.requested || state.stream) return;
  char path[kPathField];
  if (state.path[0] != '\0') {
    CopyBounded(path, sizeof path, state.path);
  } else if (argv0 != nullptr) {
    PathParts parts;
    SplitPath(argv0, &parts);
    MakePath(path, sizeof path, parts.drive, parts.dir, "updlog", ".txt");
  } else {
    MakePath(path, sizeof path, nullptr, nullptr, "updlog", ".txt");
  }
  // Binary mode: PutText writes the CR LF line ends itself.
  state.stream.reset(std::fopen(plat::NativePath(path).c_str(), "wb"));
}

void LogLine(const char* text) {
  const UpdateLogState& state = App().log;
  if (text != nullptr && state.tap) state.tap(text);
  if (!state.requested || !state.stream || text == nullptr) return;
  // The line goes out through a buffer of kLogLineBuffer bytes, a piece at a
  // time, so a longer text is written in full and nothing is overrun.
  char line[kLogLineBuffer];
  size_t length = std::strlen(text);
  size_t done = 0;
  do {
    size_t n = length - done;
    if (n > sizeof line - 2) n = sizeof line - 2;
    std::memcpy(line, text + done, n);
    done += n;
    if (done == length) line[n++] = '\n';
    line[n] = '\0';
    PutText(line);
  } while (done < length);
}

void CloseLog() { App().log.stream.reset(); }

bool LogIsOpen() { return static_cast<bool>(App().log.stream); }
