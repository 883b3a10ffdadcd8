// The three error reports: the beep, the two log lines and the box, with
// the texts laid out as the player sees them.
#include <gtest/gtest.h>

#include <string>

#include "app/AppState.h"
#include "app/Messages.h"
#include "app/UpdateLog.h"
#include "script/ScriptState.h"
#include "script/Source.h"
#include "tests/app/RecordingUi.h"
#include "tests/support/TestPaths.h"

namespace {

int g_dummyHandle;
void* FakeOpen(const char*) { return &g_dummyHandle; }
int FakeRead(void*, char*, int) { return -1; }

// Puts a script named `name` at line `line` under the reports.
class ScriptAt {
 public:
  ScriptAt(const char* name, int line) {
    source_.SourceOpen = FakeOpen;
    source_.SourceReadLine = FakeRead;
    EXPECT_EQ(OpenSource(name, source_), 0);
    Line().lineNumber = line;
  }
  ~ScriptAt() { ResetScriptState(); }

 private:
  SourceInterface source_{};
};

class Reports : public ::testing::Test {
 protected:
  void SetUp() override {
    UseUpdaterStrings();
    App().log.requested = true;
    CopyBounded(App().log.path, sizeof App().log.path, (dir_ / "updlog.txt").c_str());
    OpenLog(nullptr);
    ASSERT_TRUE(LogIsOpen());
  }
  void TearDown() override {
    ResetAppState();
    plat::UseResourcesOf(nullptr);
  }
  std::string Log() {
    CloseLog();
    return testing_support::ReadFileBytes(dir_ / "updlog.txt");
  }
  // The one box shown, checked for its caption, icon and the beep before it.
  std::string OnlyBox() {
    EXPECT_EQ(ui_.boxes.size(), 1u);
    if (ui_.boxes.empty()) return std::string();
    EXPECT_EQ(ui_.boxes[0].caption, " ERROR ");
    EXPECT_EQ(ui_.boxes[0].flags, plat::kMbIconError);
    EXPECT_EQ(ui_.events, (std::vector<std::string>{"beep", "box"}));
    EXPECT_EQ(ui_.beeps, std::vector<uint32_t>{0xFFFFFFFFu});
    return ui_.boxes[0].text;
  }

  testing_support::TempDir dir_;
  RecordingUi ui_;
};

TEST_F(Reports, ScriptErrorNamesFileAndLine) {
  ScriptAt script("patch.txt", 12);
  ReportScriptError(MSG_UNKNOWN_PARAMETER, 0, ";");
  EXPECT_EQ(OnlyBox(), "Processing file : patch.txt\nLine : 0012\nUnknown or invalid parameter ; ");
  EXPECT_EQ(Log(),
            " ERROR \r\nProcessing file : patch.txt\r\nLine : 0012\r\nUnknown or invalid parameter "
            "; \r\n");
}

TEST_F(Reports, ScriptErrorNumberNegativeAndLineAbove1000) {
  ScriptAt script("patch.txt", 12345);
  ReportScriptError(MSG_SYNTAX_ERROR, -60, "");
  EXPECT_EQ(OnlyBox(), "Processing file : patch.txt\nLine : 12345\nSyntax error, code=-60 ");
}

TEST_F(Reports, ScriptErrorNumberZeroShowsNoDigitsAndNullExtraIsEmpty) {
  ScriptAt script("a.txt", 7);
  ReportScriptError(MSG_USER_BREAK, 0, nullptr);
  EXPECT_EQ(OnlyBox(), "Processing file : a.txt\nLine : 0007\nUser`s break  ");
}

TEST_F(Reports, ScriptErrorCutToItsBuffer) {
  ScriptAt script("patch.txt", 1);
  std::string extra(3000, 'x');
  ReportScriptError(MSG_UNKNOWN_PARAMETER, 5, extra.c_str());
  std::string text = OnlyBox();
  EXPECT_EQ(text.size(), kMessageBuffer - 1);
  const std::string head =
      "Processing file : patch.txt\nLine : 0001\nUnknown or invalid parameter 5xxx";
  EXPECT_EQ(text.substr(0, head.size()), head);
  // Written to the log in full, whatever its length.
  std::string log = Log();
  EXPECT_EQ(log.size(), 9 + text.size() + 2 /* two more CRs */ + 2);
  EXPECT_EQ(log.compare(log.size() - 12, 12, "xxxxxxxxxx\r\n"), 0);
}

TEST_F(Reports, ErrorWithAndWithoutText) {
  ReportError(MSG_ERROR_OPEN_FILE, nullptr);
  ReportError(MSG_ERROR_OPEN_FILE, "C:\\upd\\patch.txt");
  ASSERT_EQ(ui_.boxes.size(), 2u);
  EXPECT_EQ(ui_.boxes[0].text, "Error open file ");
  EXPECT_EQ(ui_.boxes[1].text, "Error open file C:\\upd\\patch.txt");
  EXPECT_EQ(ui_.events, (std::vector<std::string>{"beep", "box", "beep", "box"}));
  EXPECT_EQ(Log(),
            " ERROR \r\nError open file \r\n ERROR \r\nError open file C:\\upd\\patch.txt\r\n");
}

TEST_F(Reports, ErrorNamesNoScript) {
  ScriptAt script("patch.txt", 3);
  ReportError(MSG_ERROR_READING_REGISTRY, nullptr);
  EXPECT_EQ(OnlyBox(), "Error reading Registry information ");
}

TEST_F(Reports, FileErrorCodes) {
  ReportFileError(-7, "C:\\Game\\UNITS.DKX");
  EXPECT_EQ(OnlyBox(), "User`s break. C:\\Game\\UNITS.DKX");
  EXPECT_EQ(Log(), " ERROR \r\nUser`s break. C:\\Game\\UNITS.DKX\r\n");
}

TEST_F(Reports, FileErrorEveryCodeAndOutOfRange) {
  const char* expected[] = {
      "Error open file  x",   "Error reading file  x", "Invalid file  x", "Not enough memory   x",
      "Invalid directory  x", "Error writing file  x", "User`s break. x", "Error creating file  x"};
  for (int code = -1; code >= -8; --code) ReportFileError(code, "x");
  ReportFileError(-2147483647 - 1, "x");  // no string: only the blank and the name
  ReportFileError(3, "x");
  ASSERT_EQ(ui_.boxes.size(), 10u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(ui_.boxes[i].text, expected[i]);
  EXPECT_EQ(ui_.boxes[8].text, " x");
  EXPECT_EQ(ui_.boxes[9].text, " x");
}

TEST_F(Reports, NoLogLinesWhenTheLogIsClosed) {
  CloseLog();
  ReportError(MSG_ERROR_OPEN_FILE, nullptr);
  EXPECT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(testing_support::ReadFileBytes(dir_ / "updlog.txt"), "");
}

}  // namespace
