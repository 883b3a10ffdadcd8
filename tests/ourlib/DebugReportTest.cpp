#include "ourlib/src/DebugReport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "ourlib/src/ErrFrame.h"
#include "tests/support/TestPaths.h"

namespace {

constexpr char kLib[] = "ourlib/src/Mf32int";

struct Shown {
  std::string text, caption;
};
std::vector<Shown> g_shown;
DebugBoxAnswer g_answer = DebugBoxAnswer::Ignore;

DebugBoxAnswer RecordingBox(const char* text, const char* caption) {
  g_shown.push_back({text, caption});
  return g_answer;
}

DebugBoxAnswer ReportingAgainBox(const char* text, const char* caption) {
  g_shown.push_back({text, caption});
  if (g_shown.size() == 1) ReportDebugMessage(nullptr, 0, 0, -2, "%s", "inner");
  return DebugBoxAnswer::Ignore;
}

class DebugReport : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    CloseDebugLog();
    SetDebugMessageBox(nullptr);
    SetDebugReporting(true);
    SetDebugProgramPath("");
    FirstErrorRecord().file = nullptr;
    g_shown.clear();
    g_answer = DebugBoxAnswer::Ignore;
  }
};

TEST_F(DebugReport, WithoutSinksReturnsZeroWritesNothingAndClearsTheFirstError) {
  RaiseErrorAt(-4, 0, "inner.cpp", 10);
  RaiseErrorAt(-51, 0, "outer.cpp", 20);
  EXPECT_EQ(FirstErrorRecord().line, 10);  // force 0 keeps the first
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(ReportDebugMessage(kLib, 140, 0, -4, "%s", "cMf32::ToBeg"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(FirstErrorRecord().file, nullptr);

  RaiseErrorAt(-51, 0, "outer.cpp", 20);  // records afresh after the report
  EXPECT_STREQ(FirstErrorRecord().file, "outer.cpp");
  EXPECT_EQ(FirstErrorRecord().code, -51);

  SetDebugReporting(false);
  SetDebugMessageBox(RecordingBox);
  EXPECT_EQ(ReportDebugMessage(kLib, 1, 0, -51, "x"), 0);
  EXPECT_TRUE(g_shown.empty());
  EXPECT_EQ(FirstErrorRecord().file, nullptr);
}

TEST_F(DebugReport, MessageBoxTextCaptionsAndAnswers) {
  SetDebugMessageBox(RecordingBox);
  SetDebugProgramPath("C:\\Games\\Marovex\\updater.exe");
  RaiseErrorAt(-4, 1, kLib, 118);
  EXPECT_EQ(ReportDebugMessage(kLib, 120, 0, -4, "%s", "cMf32::RecGet"), 0);
  ASSERT_EQ(g_shown.size(), 1u);
  EXPECT_EQ(g_shown[0].text,
            "Program: C:\\Games\\Marovex\\updater.exe\n"
            "File: ourlib/src/Mf32int\nLine: 120\n"
            "ExcRaise: ourlib/src/Mf32int 118\n"
            "Error Code: 0xFFFFFFFC (-4)\n"
            "\ncMf32::RecGet\n"
            "\n(Press Retry to debug the application)");
  EXPECT_EQ(g_shown[0].caption, "Debug Message");

  // No file, no line, code 0, empty message; the first error of another code is not named.
  RaiseErrorAt(-10, 1, kLib, 7);
  g_answer = DebugBoxAnswer::Retry;
  EXPECT_EQ(ReportDebugMessage(nullptr, 0, 1, 0, "%s", ""), 1);
  ASSERT_EQ(g_shown.size(), 2u);
  EXPECT_EQ(g_shown[1].text,
            "Program: C:\\Games\\Marovex\\updater.exe\n\n\n(Press Retry to debug the application)");
  EXPECT_EQ(g_shown[1].caption, "Debug Error Message");
  EXPECT_EQ(FirstErrorRecord().file, nullptr);
}

TEST_F(DebugReport, AReportWhileTheBoxIsOpenIsTheSecondCall) {
  SetDebugMessageBox(ReportingAgainBox);
  EXPECT_EQ(ReportDebugMessage(nullptr, 0, 0, -2, "%s", "outer"), 0);
  ASSERT_EQ(g_shown.size(), 2u);
  EXPECT_EQ(g_shown[1].caption, "Debug Message - SECOND CALL");
  EXPECT_EQ(g_shown[0].caption, "Debug Message");
  SetDebugMessageBox(RecordingBox);
  ReportDebugMessage(nullptr, 0, 0, -2, "again");
  EXPECT_EQ(g_shown.back().caption, "Debug Message");  // the box is closed again
}

TEST_F(DebugReport, LongPathsAreCutFromTheFrontAndLongMessagesMarked) {
  SetDebugMessageBox(RecordingBox);
  const std::string tail64 = std::string(61, 'p') + "end";  // 64 characters
  SetDebugProgramPath(("C:\\deep\\" + tail64).c_str());
  const std::string file = std::string(10, 'x') + std::string(64, 'f');
  const std::string raised = std::string(10, 'y') + std::string(54, 'r');
  RaiseErrorAt(-14, 1, raised.c_str(), 3);
  ReportDebugMessage(file.c_str(), 5, 0, -14, "%s", std::string(600, 'm').c_str());
  ASSERT_EQ(g_shown.size(), 1u);
  const std::string& t = g_shown[0].text;
  EXPECT_NE(t.find("Program: ..." + tail64.substr(3) + "\n"), std::string::npos) << t;
  EXPECT_NE(t.find("\nFile: ..." + std::string(61, 'f') + "\n"), std::string::npos) << t;
  EXPECT_NE(t.find("\nExcRaise: ..." + std::string(51, 'r') + " 3\n"), std::string::npos) << t;
  const std::string message = std::string(512 - 21, 'm') + "User message too long";
  EXPECT_NE(t.find("\n\n" + message + "\n\n(Press"), std::string::npos) << t;

  g_shown.clear();
  SetDebugProgramPath(tail64.c_str());  // exactly 64: kept whole
  ReportDebugMessage(nullptr, 0, 0, 0x1FFFF, "%s", "");
  ASSERT_EQ(g_shown.size(), 1u);
  EXPECT_EQ(g_shown[0].text,
            "Program: " + tail64 +
                "\nError Code: 0x0001FFFF (-1)\n\n(Press Retry to debug the application)");
}

TEST_F(DebugReport, DebugLogGetsOneHeaderThenReportsAndValues) {
  testing_support::TempDir dir;
  const std::string path = dir / "debug.log";
  ASSERT_TRUE(OpenDebugLog(path.c_str()));
  SetDebugMessageBox(RecordingBox);  // the log takes precedence over the box
  RaiseErrorAt(-51, 1, kLib, 200);
  for (uint32_t v = 1; v <= 9; ++v) AddDebugValue(v * 0x11);
  EXPECT_EQ(
      ReportDebugMessage(kLib, 201, 0, -51, "cMf32::RecPut \nFile=\"%s\" \nSect=%s  Name=\"%s\" ",
                         "UNITS.DKX", "M_FNT ", "arial"),
      0);
  EXPECT_EQ(ReportDebugMessage(kLib, 0, 0, 0, "%s", "second"), 0);
  CloseDebugLog();
  EXPECT_TRUE(g_shown.empty());

  std::string log = testing_support::ReadFileBytes(path);
  // A text file: Windows ends its lines with CR LF.
  log.erase(std::remove(log.begin(), log.end(), '\r'), log.end());
  const std::regex expected(
      "\n\\d+ ========================================  \\d\\d\\.\\d\\d\\.\\d{4}  "
      "\\d{1,2}:\\d\\d:\\d\\d\\.\\d{3}\n"
      "Program: \n"
      "File: ourlib/src/Mf32int  Line: 201 \\([0-9A-F]{8} 00000000\\)\n"
      "ExcRaise: ourlib/src/Mf32int 200\n"
      "Error Code: 0xFFFFFFCD \\(-51\\)\n"
      "cMf32::RecPut \nFile=\"UNITS.DKX\" \nSect=M_FNT   Name=\"arial\" \n"
      "00000011  00000022  00000033  00000044  00000055  00000066  00000077  00000088  \n"
      "00000099  \n"
      "Program: \n"
      "File: ourlib/src/Mf32int   \\([0-9A-F]{8} 00000000\\)\n"
      "\nsecond\n");
  EXPECT_TRUE(std::regex_match(log, expected)) << log;
}

TEST_F(DebugReport, AbortFlagEndsTheProgramWithoutAnyBox) {
  EXPECT_DEATH(ReportDebugMessage(kLib, 1, 1, -52, "%s", "cMf32::Open"), "");
}

}  // namespace
