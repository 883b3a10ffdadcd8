#include "app/RunUpdate.h"

#include <clocale>
#include <cstring>

#include "app/AppProgress.h"
#include "app/AppState.h"
#include "app/DialogTexts.h"
#include "app/Dialogs.h"
#include "app/Directives.h"
#include "app/FormatVersion.h"
#include "app/Messages.h"
#include "app/UpdateLog.h"
#include "ourlib/src/ErrFrame.h"
#include "platform/Env.h"
#include "platform/NativePath.h"
#include "platform/Registry.h"
#include "platform/Ui.h"
#include "script/TokenReader.h"
#include "settings/GameSettings.h"
#include "update/Operations.h"

namespace {

constexpr uint32_t kBeepAsterisk = 0x40;  // MB_ICONASTERISK

class RunHost final : public DirectiveHost {
 public:
  void ScriptError(int message, int number, const char* extra) override {
    ReportScriptError(message, number, extra);
  }
  void Error(int message, const char* text) override { ReportError(message, text); }
  int RunFile(const char* sourceName, const char* destPath, int operation) override {
    char folder[kPathField];
    UpdaterFolder(folder, sizeof folder);
    return UpdateFile(AppProgress(), sourceName, folder, destPath, operation);
  }
};

// Closes the script and whatever it included on every way out of the run.
struct SourcesClosed {
  ~SourcesClosed() {
    Guard([] { CloseAllSources(); });
  }
};

void AskInsteadOfCompletion() {
  char text[kCompletionMessage + 64];
  ComposeCompletionMessage(text, sizeof text);
  AppendBounded(text, sizeof text, LoadText(64));
  if (plat::ShowMessageBox(text, LoadText(65), plat::kMbYesNo | plat::kMbIconQuestion) ==
      plat::kIdYes) {
    LaunchGame();
  }
}

int Fail() {
  CloseProgressDialog();
  return 0;
}

}  // namespace

int RunUpdate(const char* scriptPath) {
  App().cancel = false;
  if (!g_GameSettings.Read()) {
    // On Linux a second line names the registry file (Windows: nothing more).
    ReportError(MSG_ERROR_READING_REGISTRY, plat::RegistryNote().c_str());
    return 0;
  }
  RunHost host;
  DirectiveMachine directives(g_GameSettings, host);  // takes the installed values now

  SourcesClosed closeAtEnd;
  int opened = Guard([&] {
    if (scriptPath == nullptr) RaiseError(ERR_NO_SCRIPT);
    if (OpenSource(scriptPath, UpdaterSourceInterface()) != 0) RaiseError(ERR_OPEN_FAILED);
  });
  if (opened != 0) {
    ReportError(MSG_ERROR_OPEN_FILE,
                scriptPath != nullptr ? plat::ShownPath(scriptPath).c_str() : nullptr);
    return 0;
  }
  SetLineEndTokens(1);
  SetCommentTokens(0);
  SetKeywordCase(1);
  SetKeepCase(1);
  SetDescriptor(UpdaterDescriptor());

  CreateProgressDialog();
  PumpMessages();
  for (;;) {
    int code = ReadToken();
    if (code < 0) {
      ReportScriptError(MSG_SYNTAX_ERROR, code, "");
      return Fail();
    }
    PumpMessages();
    if (App().cancel) {
      ReportScriptError(MSG_USER_BREAK, 0, "");
      return Fail();
    }
    if (code == TOK_END_OF_INPUT) break;
    DirectiveToken token{code, TokenText, TokenValue.word, TokenValue.string};
    if (directives.Feed(token) == DirectiveResult::Failed) return Fail();
  }

  // Every file replaced above is on the disk by now (each replacement was
  // flushed and its folder synced before UpdateFile returned), so the new
  // version is never recorded for files a power cut could take back.
  directives.WriteBack(g_GameSettings);
  g_GameSettings.Write();  // a failed write-back is silent
  CloseProgressDialog();
  plat::Beep(kBeepAsterisk);
  switch (ShowCompletionDialog()) {
    case -1:
      AskInsteadOfCompletion();
      break;
    case 1:
      LaunchGame();
      break;
    default:
      break;
  }
  return 1;
}

void LaunchGame() {
  char program[kPathField];
  char command[kPathField];
  // The program path is quoted: unquoted, a path with blanks would be tried
  // prefix by prefix, so a game in "C:\Program Files\..." would first start
  // a "C:\Program.exe" if there were one. A path that holds a quote itself
  // cannot be quoted (Windows allows none in file names) and a command line
  // that does not fit its buffer is not started cut short: both are reported
  // like a program that fails to start.
  bool fits = CopyBounded(program, sizeof program, g_GameSettings.MainPath) &&
              EnsureTrailingSeparator(program, sizeof program) &&
              AppendBounded(program, sizeof program, LoadText(IDS_GAME_EXECUTABLE));
  bool started = fits && std::strchr(program, '"') == nullptr &&
                 CopyBounded(command, sizeof command, "\"") &&
                 AppendBounded(command, sizeof command, program) &&
                 AppendBounded(command, sizeof command, "\" ") &&
                 AppendBounded(command, sizeof command, App().gameArgs) &&
                 plat::Env::Default()->StartProgram(command) == 0;  // no waiting for the game
  // The update itself succeeded: the run still ends with 0.
  if (!started) ReportError(MSG_ERROR_STARTING_PROGRAM, plat::ShownPath(program).c_str());
}

int UpdaterMain(int argc, char** argv) {
  int code = 0;
  try {
    code = Guard([&] {
      std::setlocale(LC_ALL, LoadText(50));
      ParseCommandLine(argc, argv);
      OpenLog(argc > 0 ? argv[0] : nullptr);
      if (RunUpdate(argc > 1 ? argv[1] : nullptr) == 0) RaiseError(ERR_FAILED_SHOWN);
    });
  } catch (...) {
    code = ERR_FAILED_SHOWN;  // anything else that escapes ends the run as a failure
  }
  CloseLog();
  PostQuit(code == 0 ? 0 : 1);
  return code == 0 ? 0 : -1;
}
