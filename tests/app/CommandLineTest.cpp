// The command line and the whole-file reader of the completion dialog.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/ReadWholeFile.h"
#include "app/RunUpdate.h"
#include "app/UpdateLog.h"
#include "ourlib/src/ErrFrame.h"
#include "platform/Env.h"
#include "tests/support/TestPaths.h"

namespace {

void Parse(std::vector<std::string> args) {
  ResetAppState();
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLine, OptionsFromTheSecondArgumentOn) {
  Parse({"C:\\Upd\\updater.exe", "patch.txt", "-E", "-Q", "-", "xr-first", "-R-skipintro"});
  EXPECT_STREQ("C:", App().updaterDrive);
  EXPECT_STREQ("\\Upd\\", App().updaterDir);
  EXPECT_STREQ("-skipintro", App().gameArgs);  // later options override earlier ones
  EXPECT_FALSE(App().log.requested);

  Parse({"C:\\Upd\\updater.exe", "-L", "patch.txt", "/l"});  // argv[1] is always the script
  EXPECT_TRUE(App().log.requested);
  EXPECT_STREQ("", App().log.path);  // the default name

  Parse({"C:\\Upd\\updater.exe", "patch.txt", "-Lrun5", "-r"});
  EXPECT_TRUE(App().log.requested);
  EXPECT_STREQ("C:\\Upd\\run5.txt", App().log.path);
  EXPECT_STREQ("", App().gameArgs);

  Parse({"updater"});
  EXPECT_STREQ("", App().updaterDrive);
  EXPECT_STREQ("", App().updaterDir);
  char folder[kPathField];
  UpdaterFolder(folder, sizeof folder);
  EXPECT_STREQ("", folder);  // the current folder

  Parse({"u", "p", "-R" + std::string(300, 'a')});  // cut to its field, never overrun
  EXPECT_EQ(std::string(259, 'a'), App().gameArgs);
}

TEST(ReadWholeFile, BytesAndTerminatorOrNull) {
  testing_support::TempDir dir;
  const std::string path = dir / "Report.txt";
  EXPECT_EQ(nullptr, ReadWholeFile(path.c_str()));

  testing_support::WriteFileBytes(path, std::string("a\r\nb\0c", 6));
  MemPtr<char> text(ReadWholeFile(path.c_str()));
  ASSERT_NE(nullptr, text);
  EXPECT_EQ(std::string("a\r\nb\0c\0", 7), std::string(text.get(), 7));

  testing_support::WriteFileBytes(path, "");
  MemPtr<char> empty(ReadWholeFile(path.c_str()));
  ASSERT_NE(nullptr, empty);
  EXPECT_EQ('\0', empty.get()[0]);

  // Held open by another program that denies sharing: counts as missing.
  std::unique_ptr<plat::File> held;
  ASSERT_EQ(0, plat::Env::Default()->Open(path.c_str(), plat::Access::ReadWrite, plat::Share::None,
                                          plat::Disposition::OpenExisting, 0, &held));
  EXPECT_EQ(nullptr, ReadWholeFile(path.c_str()));
}

}  // namespace
