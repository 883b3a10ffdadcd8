// The -L naming rule, the path splitter under it, and the log file itself.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "app/AppState.h"
#include "app/UpdateLog.h"
#include "ourlib/src/PathText.h"
#include "tests/support/TestPaths.h"

namespace {

std::string Resolve(const char* value) {
  char out[kPathField];
  ResolveLogPath(value, "D:", "\\Update\\", out);
  return out;
}

TEST(LogPathRule, FillsEachMissingPartOnItsOwn) {
  EXPECT_EQ(Resolve("run5"), "D:\\Update\\run5.txt");
  EXPECT_EQ(Resolve("c:\\logs\\"), "c:\\logs\\updlog.txt");
  EXPECT_EQ(Resolve("c:\\logs\\a.log"), "c:\\logs\\a.log");
  EXPECT_EQ(Resolve("c:run5"), "c:\\Update\\run5.txt");  // a drive and no folder
  EXPECT_EQ(Resolve("logs/run5.log"), "D:logs/run5.log");
  EXPECT_EQ(Resolve(".log"), "D:\\Update\\updlog.log");
  EXPECT_EQ(Resolve("run.5\\x"), "D:run.5\\x.txt");  // a dot in a folder is no extension
}

TEST(LogPathRule, PosixUpdaterFolder) {
  char out[kPathField];
  ResolveLogPath("run5", "", "/opt/upd/", out);
  EXPECT_STREQ(out, "/opt/upd/run5.txt");
}

TEST(LogPathRule, OverlongValueIsCutNotOverrun) {
  std::string value(600, 'a');
  char out[kPathField + 8];
  std::memset(out, '#', sizeof out);
  ResolveLogPath(value.c_str(), "D:", "\\Update\\", out);
  EXPECT_LT(std::strlen(out), kPathField);
  EXPECT_EQ(out[kPathField], '#');
}

TEST(SplitPath, LikeTheRuntime) {
  PathParts p;
  SplitPath("C:\\Games\\MX\\updater.exe", &p);
  EXPECT_STREQ(p.drive, "C:");
  EXPECT_STREQ(p.dir, "\\Games\\MX\\");
  EXPECT_STREQ(p.fname, "updater");
  EXPECT_STREQ(p.ext, ".exe");
  SplitPath("updater", &p);
  EXPECT_STREQ(p.drive, "");
  EXPECT_STREQ(p.dir, "");
  EXPECT_STREQ(p.fname, "updater");
  EXPECT_STREQ(p.ext, "");
  SplitPath("/a/b.c/d.tar.gz", &p);
  EXPECT_STREQ(p.dir, "/a/b.c/");
  EXPECT_STREQ(p.fname, "d.tar");
  EXPECT_STREQ(p.ext, ".gz");
}

TEST(MakePath, AddsColonSeparatorAndDot) {
  char out[kPathField];
  EXPECT_TRUE(MakePath(out, sizeof out, "c", "logs", "a", "log"));
  EXPECT_STREQ(out, "c:logs\\a.log");
  EXPECT_TRUE(MakePath(out, sizeof out, nullptr, "/x/", "a", nullptr));
  EXPECT_STREQ(out, "/x/a");
  char small[6];
  EXPECT_FALSE(MakePath(small, sizeof small, "c:", "\\logs\\", "a", ".log"));
  EXPECT_STREQ(small, "c:\\lo");
}

class LogFile : public ::testing::Test {
 protected:
  void TearDown() override { ResetAppState(); }
  testing_support::TempDir dir_;
};

TEST_F(LogFile, NotRequestedWritesNothing) {
  OpenLog((dir_ / "updater").c_str());
  LogLine("x");
  CloseLog();
  EXPECT_FALSE(LogIsOpen());
  EXPECT_THROW(testing_support::ReadFileBytes(dir_ / "updlog.txt"), std::runtime_error);
}

TEST_F(LogFile, DefaultIsUpdlogInTheUpdaterFolderEmptiedAndCrLf) {
  testing_support::WriteFileBytes(dir_ / "updlog.txt", "old contents\r\n");
  App().log.requested = true;
  OpenLog((dir_ / "updater.exe").c_str());
  ASSERT_TRUE(LogIsOpen());
  LogLine(" ERROR ");
  LogLine("two\nlines");
  LogLine("");
  CloseLog();
  EXPECT_EQ(testing_support::ReadFileBytes(dir_ / "updlog.txt"), " ERROR \r\ntwo\r\nlines\r\n\r\n");
}

TEST_F(LogFile, ResolvedPathFromTheRule) {
  PathParts exe;
  SplitPath((dir_ / "updater").c_str(), &exe);
  App().log.requested = true;
  ResolveLogPath("run5", exe.drive, exe.dir, App().log.path);
  OpenLog((dir_ / "updater").c_str());
  LogLine("a");
  CloseLog();
  EXPECT_EQ(testing_support::ReadFileBytes(dir_ / "run5.txt"), "a\r\n");
}

TEST_F(LogFile, LongLineWrittenInFull) {
  App().log.requested = true;
  OpenLog((dir_ / "updater").c_str());
  std::string text;
  for (int i = 0; i < 1100; ++i) text += static_cast<char>('a' + i % 26);
  LogLine(text.c_str());
  LogLine(std::string(258, 'b').c_str());  // exactly fills the line buffer
  LogLine(std::string(259, 'c').c_str());
  CloseLog();
  EXPECT_EQ(testing_support::ReadFileBytes(dir_ / "updlog.txt"),
            text + "\r\n" + std::string(258, 'b') + "\r\n" + std::string(259, 'c') + "\r\n");
}

TEST_F(LogFile, UnopenablePathIsSilent) {
  App().log.requested = true;
  CopyBounded(App().log.path, kPathField, (dir_ / "no-such-folder\\x\\log.txt").c_str());
  OpenLog(nullptr);
  EXPECT_FALSE(LogIsOpen());
  LogLine("nothing");
  CloseLog();
}

TEST_F(LogFile, OpenedOnlyOnce) {
  App().log.requested = true;
  OpenLog((dir_ / "updater").c_str());
  LogLine("first");
  OpenLog((dir_ / "updater").c_str());  // already open: the file is not emptied again
  LogLine("second");
  CloseLog();
  EXPECT_EQ(testing_support::ReadFileBytes(dir_ / "updlog.txt"), "first\r\nsecond\r\n");
}

}  // namespace
