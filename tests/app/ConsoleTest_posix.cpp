// The console that stands in for message boxes on POSIX: caption and text
// on standard error, a Yes/No answer from standard input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/NativePath.h"
#include "platform/Ui.h"
#include "tests/support/TestPaths.h"

namespace {

// Runs one box with `input` on standard input; returns its result and what
// it wrote to standard error.
int AskWith(const std::string& input, uint32_t flags, std::string* shown) {
  testing_support::TempDir dir;
  testing_support::WriteFileBytes(dir / "in", input);
  std::fflush(stderr);
  int savedIn = dup(0), savedErr = dup(2);
  EXPECT_NE(std::freopen((dir / "in").c_str(), "r", stdin), nullptr);
  EXPECT_NE(std::freopen((dir / "err").c_str(), "w", stderr), nullptr);
  int result = plat::BackendUi()->ShowMessageBox("Start?\nNow", " DONE ", flags);
  std::fflush(stderr);
  dup2(savedIn, 0);
  dup2(savedErr, 2);
  close(savedIn);
  close(savedErr);
  clearerr(stdin);
  *shown = testing_support::ReadFileBytes(dir / "err");
  return result;
}

// Only a yes is Yes, whatever the default button: the end of input and an
// answer that is no yes never start a program.
TEST(Console, YesNoIsYesOnlyForAYes) {
  std::string shown;
  const uint32_t yesNo = plat::kMbYesNo | plat::kMbIconQuestion;
  EXPECT_EQ(AskWith("n\n", yesNo, &shown), plat::kIdNo);
  EXPECT_EQ(shown, "[ DONE ]\nStart?\nNow\n[y/N] \n");
  EXPECT_EQ(AskWith("  Yes\n", yesNo | plat::kMbDefButton2, &shown), plat::kIdYes);
  EXPECT_EQ(AskWith("y\n", yesNo, &shown), plat::kIdYes);
  EXPECT_EQ(AskWith("", yesNo, &shown), plat::kIdNo);  // end of input
  EXPECT_EQ(AskWith("", yesNo | plat::kMbDefButton2, &shown), plat::kIdNo);
  EXPECT_EQ(AskWith("maybe\n", yesNo, &shown), plat::kIdNo);
}

TEST(Console, ErrorBoxShowsCaptionAndTextAndAsksNothing) {
  std::string shown;
  EXPECT_EQ(AskWith("n\n", plat::kMbIconError, &shown), plat::kIdOk);
  EXPECT_EQ(shown, "[ DONE ]\nStart?\nNow\n");
}

TEST(NativePath, DropsTheDriveAndFindsNamesInAnyCase) {
  testing_support::TempDir dir;
  testing_support::WriteFileBytes(dir / "Report.TXT", "x");
  std::string windowsStyle = "c:" + dir.path();
  for (char& c : windowsStyle) {
    if (c == '/') c = '\\';
  }
  EXPECT_EQ(plat::NativePath((windowsStyle + "REPORT.txt").c_str()), dir / "Report.TXT");
  EXPECT_EQ(plat::NativePath((windowsStyle + "new.log").c_str()), dir / "new.log");
}

}  // namespace
