#include "app/Messages.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/AppState.h"
#include "app/UpdateLog.h"
#include "platform/NativePath.h"
#include "platform/Ui.h"
#include "script/Source.h"

namespace {

// Beyond this position the next text might not fit: start again at 0.
constexpr size_t kWrapAbove = kTextArea - kLoadTextMax;  // 2052

// Beeps, writes " ERROR " and the message to the log and shows the box.
void ShowError(const char* message) {
  LogLine(LoadText(IDS_ERROR_CAPTION));
  LogLine(message);
  plat::ShowMessageBox(message, LoadText(IDS_ERROR_CAPTION), plat::kMbIconError);
}

}  // namespace

const char* LoadText(int id) {
  AppState& app = App();
  if (app.textPos > kWrapAbove) app.textPos = 0;
  char* text = app.textArea + app.textPos;
  int n = plat::LoadResString(id, text, static_cast<int>(kLoadTextMax));
  if (n <= 0) {
    text[0] = '\0';
    app.textPos += 1;
  } else {
    app.textPos += static_cast<size_t>(n) + 1;
  }
  return text;
}

void ReportScriptError(int message, int number, const char* extra) {
  plat::Beep(plat::kBeepStandard);
  char numberText[16] = "";
  if (number != 0) std::snprintf(numberText, sizeof numberText, "%d", number);
  const std::string name = plat::ShownPath(SourceCurrentName());
  char text[kMessageBuffer];
  // The format is string 51 of the program's own table.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::snprintf(text, sizeof text, LoadText(IDS_SCRIPT_ERROR_FORMAT), name.c_str(),
                SourceCurrentLine(), LoadText(message + 1), numberText,
                extra != nullptr ? extra : "");
#pragma GCC diagnostic pop
  ShowError(text);
}

void ReportError(int message, const char* text) {
  plat::Beep(plat::kBeepStandard);
  char buffer[kMessageBuffer];
  std::snprintf(buffer, sizeof buffer, "%s%s", LoadText(message + 1), text != nullptr ? text : "");
  ShowError(buffer);
}

void ReportFileError(int code, const char* name) {
  plat::Beep(plat::kBeepStandard);
  // Codes -1..-8 name strings 962..969; any other code shows no text (and
  // cannot overflow the id).
  int id = (code < 0 && code >= -1000) ? 961 - code : 0;
  char buffer[kMessageBuffer];
  std::snprintf(buffer, sizeof buffer, "%s %s", LoadText(id), name != nullptr ? name : "");
  ShowError(buffer);
}
