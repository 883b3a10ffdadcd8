// Starting a program through platform/testing/UiDriver.h: its environment
// additions, working folder, captured output and exit code reach it.
#include <gtest/gtest.h>

#include <string>

#include "platform/testing/UiDriver.h"
#include "tests/support/TestPaths.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;

TEST(ChildProcess, EnvironmentFolderOutputAndExitCode) {
  TempDir dir;
  plat::ChildOptions options;
  options.workingDir = dir.path();
  options.environment = {"UPD_PROBE=first", "upd_probe=added last wins", "UPD_OTHER=2"};
  options.outputFile = dir / "out.txt";
  plat::ChildProcess p;
  ASSERT_EQ(0, p.Start("cmd /c echo %UPD_PROBE%^|%UPD_OTHER%^|%CD%& exit 7", options));
  EXPECT_NE(0u, p.Id());
  uint32_t code = 0;
  ASSERT_TRUE(p.Wait(60000, &code));
  EXPECT_EQ(7u, code);
  // The folder is printed without its trailing separator.
  const std::string folder = dir.path().substr(0, dir.path().size() - 1);
  EXPECT_EQ("added last wins|2|" + folder + "\r\n", ReadFileBytes(dir / "out.txt"));
}

TEST(ChildProcess, AMissingProgramIsAnError) {
  TempDir dir;
  plat::ChildProcess p;
  EXPECT_NE(0, p.Start("\"" + dir / "none.exe" + "\""));
  EXPECT_EQ(0u, p.Id());
  uint32_t code = 12345;
  EXPECT_FALSE(p.Wait(0, &code));
  EXPECT_EQ(12345u, code);
}

}  // namespace
