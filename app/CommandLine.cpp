#include <cctype>
#include <cstring>

#include "app/AppState.h"
#include "app/RunUpdate.h"
#include "app/UpdateLog.h"
#include "ourlib/src/PathText.h"

void ParseCommandLine(int argc, char** argv) {
  AppState& app = App();
  if (argc > 0 && argv[0] != nullptr) {
    PathParts parts;
    SplitPath(argv[0], &parts);
    CopyBounded(app.updaterDrive, sizeof app.updaterDrive, parts.drive);
    CopyBounded(app.updaterDir, sizeof app.updaterDir, parts.dir);
  }
  // Of each option only the second character counts; the first may be anything.
  for (int i = 2; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg == nullptr || std::strlen(arg) < 2) continue;
    const char* value = arg + 2;
    switch (std::tolower(static_cast<unsigned char>(arg[1]))) {
      case 'l':
        app.log.requested = true;
        if (*value != '\0') ResolveLogPath(value, app.updaterDrive, app.updaterDir, app.log.path);
        break;
      case 'r':
        // A value longer than the field is cut at a whole character.
        CopyBounded(app.gameArgs, sizeof app.gameArgs, value);
        break;
      default:  // -E and every other letter: accepted, no effect
        break;
    }
  }
}
