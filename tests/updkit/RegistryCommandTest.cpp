// updkit registry prepares an installation's settings that cGameSettings
// then reads; what Write leaves is seen by updkit and, on Windows, by the
// system's own reg tool.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/SettingsFixture.h"

namespace {

bool OnWindows() { return plat::RegistryFilePath().empty(); }

// Runs a command line through the shell; its output (both streams) goes to *output.
int Shell(const testing_support::TempDir& dir, std::string command, std::string* output) {
  const std::string out = dir / "command.out";
  command += " > \"" + out + "\" 2>&1";
  if (OnWindows()) command = "\"" + command + "\"";  // cmd /c strips one outer pair
  const int status = std::system(command.c_str());
  *output = testing_support::ReadFileBytes(out);
  return status;
}

class UpdkitRegistry : public SettingsTest {
 protected:
  int Updkit(const std::vector<std::string>& args, std::string* output) {
    std::string exe = testing_support::UpdkitPath();
    if (OnWindows()) std::replace(exe.begin(), exe.end(), '/', '\\');
    std::string command = "\"" + exe + "\" registry";
    if (!OnWindows()) command += " --registry \"" + plat::RegistryFilePath() + "\"";
    for (const std::string& a : args) command += " \"" + a + "\"";
    return Shell(dir_, command, output);
  }
};

TEST_F(UpdkitRegistry, SetThenReadThenQuery) {
  std::string out;
  ASSERT_EQ(Updkit({"set", kVersionKey, "Server", "--sz", "kit.example.net"}, &out), 0) << out;
  ASSERT_EQ(Updkit({"set", kVersionKey, "Type", "--dword", "0x00010003"}, &out), 0) << out;
  ASSERT_EQ(Updkit({"set", kVersionKey, "Version", "--dword", "16909060"}, &out), 0) << out;
  std::string bare = main_.substr(0, main_.size() - 1);
  ASSERT_EQ(Updkit({"set", kDirectoriesKey, "MainPath", "--sz", bare}, &out), 0) << out;

  cGameSettings s;
  ASSERT_TRUE(s.Read());
  EXPECT_STREQ(s.Server, "kit.example.net");
  EXPECT_EQ(s.Type, 0xD0DDFFFFu);
  EXPECT_EQ(s.Version, 0x01020304u);
  EXPECT_EQ(std::string(s.MainPath), bare + "\\");

  std::strcpy(s.Server, "written.example.net");
  ASSERT_TRUE(s.Write());
  ASSERT_EQ(Updkit({"get", kVersionKey, "Server"}, &out), 0) << out;
  EXPECT_EQ(out.substr(0, out.find_first_of("\r\n")), "written.example.net");
  ASSERT_EQ(Updkit({"get", kVersionKey, "Type"}, &out), 0) << out;
  EXPECT_EQ(out.substr(0, 10), "0xd0ddffff");
  EXPECT_NE(Updkit({"get", kVersionKey, "NoSuchValue"}, &out), 0);

  if (OnWindows()) {  // where the 32-bit game reads them
    ASSERT_EQ(
        Shell(dir_, std::string("reg query \"HKLM\\") + kVersionKey + "\" /v Type /reg:32", &out),
        0)
        << out;
    EXPECT_NE(out.find("REG_DWORD"), std::string::npos) << out;
    EXPECT_NE(out.find("0xd0ddffff"), std::string::npos) << out;
    ASSERT_EQ(
        Shell(dir_, std::string("reg query \"HKLM\\") + kVersionKey + "\" /v Server /reg:32", &out),
        0)
        << out;
    EXPECT_NE(out.find("written.example.net"), std::string::npos) << out;
  }
}

TEST_F(UpdkitRegistry, DumpShowsTheKeys) {
  std::string out;
  ASSERT_EQ(Updkit({"dump", "SOFTWARE\\Varnholt\\Marovex"}, &out), 0) << out;
  EXPECT_EQ(out.compare(0, 8, "REGEDIT4"), 0) << out;
  EXPECT_NE(out.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnholt\\Marovex\\Directories]"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\"LastPlayer\"=\"Ann\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"Version\"=dword:01020003"), std::string::npos) << out;
}

// What regedit /E writes: "Windows Registry Editor Version 5.00" in
// UTF-16LE after its byte-order mark; a change keeps the file so.
TEST_F(UpdkitRegistry, ReadsAndKeepsARegeditExport) {
  if (OnWindows()) GTEST_SKIP() << "the real registry";
  const std::string text = std::string("Windows Registry Editor Version 5.00\r\n\r\n") +
                           "[HKEY_LOCAL_MACHINE\\" + kVersionKey + "]\r\n" +
                           "\"Server\"=\"eu.example\"\r\n";
  const auto utf16 = [](const std::string& ascii) {
    std::string wide = "\xFF\xFE";
    for (char c : ascii) wide += std::string{c, '\0'};
    return wide;
  };
  testing_support::WriteFileBytes(plat::RegistryFilePath(), utf16(text));
  std::string out;
  ASSERT_EQ(Updkit({"get", kVersionKey, "Server"}, &out), 0) << out;
  EXPECT_EQ(out, "eu.example\n");
  ASSERT_EQ(Updkit({"set", kVersionKey, "Server", "--sz", "kit.example"}, &out), 0) << out;
  EXPECT_EQ(testing_support::ReadFileBytes(plat::RegistryFilePath()),
            utf16(text.substr(0, text.size() - 14) + "\"kit.example\"\r\n"));
}

TEST_F(UpdkitRegistry, RefusesBadNumbers) {
  std::string out;
  EXPECT_NE(Updkit({"set", kVersionKey, "Type", "--dword", "0x1ffffffff"}, &out), 0);
  EXPECT_NE(Updkit({"set", kVersionKey, "Type", "--dword", "12ab"}, &out), 0);
  EXPECT_NE(Updkit({"set", kVersionKey, "Type", "--qword", "1"}, &out), 0);
  EXPECT_NE(Updkit({"set", kVersionKey, "Type", "--sz", "1", "--dword", "1"}, &out), 0);
  // Decimal as the help says, even with a leading zero.
  ASSERT_EQ(Updkit({"set", kVersionKey, "Type", "--dword", "010"}, &out), 0) << out;
  ASSERT_EQ(Updkit({"get", kVersionKey, "Type"}, &out), 0) << out;
  EXPECT_EQ(out.substr(0, 10), "0x0000000a");
}

}  // namespace
