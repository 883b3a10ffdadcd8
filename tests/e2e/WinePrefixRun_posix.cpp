// A game installed in a Wine prefix, updated by the Linux updater through
// the prefix's own registry file, and checked from inside Wine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/GameInstall.h"
#include "tests/support/Process.h"
#include "tests/support/TestPaths.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// The program's path on $PATH, or empty.
std::string OnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "";
  for (size_t start = 0, end; start <= folders.size(); start = end + 1) {
    end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const fs::path candidate = fs::path(folders.substr(start, end - start)) / name;
    if (!candidate.parent_path().empty() && fs::exists(candidate)) return candidate.string();
  }
  return "";
}

class WinePrefix {
 public:
  explicit WinePrefix(const std::string& prefix)
      : prefix_(prefix), wine_(OnPath("wine")), server_(OnPath("wineserver")) {}
  bool Present() const { return !wine_.empty() && !server_.empty(); }
  // Runs a Windows program of the prefix (wine's first argument onwards).
  ProcessResult Wine(const std::vector<std::string>& args, const std::string& workingDir = "") {
    return RunProgram(wine_, args, Options(workingDir));
  }
  ProcessResult Server(const std::string& option) {
    return RunProgram(server_, {option}, Options(""));
  }
  // A server that runs until it is killed, detached from the test's pipes.
  ProcessResult PersistentServer() {
    return RunProgram("/bin/sh", {"-c", "exec \"$0\" -p >/dev/null 2>&1 </dev/null", server_},
                      Options(""));
  }

 private:
  ProcessOptions Options(const std::string& workingDir) const {
    ProcessOptions o;
    o.workingDir = workingDir;
    // No Mono or Gecko to install, no messages on the way.
    o.environment = {"WINEPREFIX=" + prefix_, "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml="};
    return o;
  }
  std::string prefix_, wine_, server_;
};

const char kKeys[] =
    "REGEDIT4\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnholt\\Marovex\\Directories]\r\n"
    "\"MainPath\"=\"C:\\\\Games\\\\Marovex\\\\\"\r\n"
    "\"VideoPath\"=\"C:\\\\Games\\\\Marovex\\\\Video\\\\\"\r\n"
    "\"DataPath\"=\"C:\\\\Games\\\\Marovex\\\\Data\\\\\"\r\n"
    "\"SoundPath\"=\"C:\\\\Games\\\\Marovex\\\\Sound\\\\\"\r\n"
    "\"MusicPath\"=\"C:\\\\Games\\\\Marovex\\\\Music\\\\\"\r\n"
    "\"InstPath\"=\"D:\\\\\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnholt\\Marovex\\Version]\r\n"
    "\"Version\"=dword:01020005\r\n"
    "\"Type\"=dword:d0dd0001\r\n"
    "\"Folder\"=\"Varnholt\\\\Marovex\"\r\n"
    "\"LastPlayer\"=\"Ann\"\r\n"
    "\"CharSet\"=dword:00000000\r\n"
    "\"Server\"=\"old.example\"\r\n";

// The prefix is made by Wine with `reg import` into the 32-bit view, where
// the game's 32-bit installer writes (a decoy game in the 64-bit view), its
// server stopped (which writes system.reg); the updater refuses the file
// while a server runs again, then updates the game and its registry; Wine's
// own programs see the new version and the files, a name of code page 1252
// included.
TEST(WinePrefixRun, UpdatesAGameInAPrefixThatWineThenSees) {
  TempDir dir;
  WinePrefix wine(dir / "pfx");
  if (!wine.Present()) GTEST_SKIP() << "wine and wineserver are not installed";
  WriteFileBytes(dir / "keys.reg", kKeys);
  std::string decoy = kKeys;
  decoy.replace(decoy.find("Games"), 5, "Decoy");
  WriteFileBytes(dir / "decoy.reg", decoy);
  ProcessResult made = wine.Wine({"reg", "import", "decoy.reg"}, dir.path());
  ASSERT_EQ(0, made.status) << made.out << made.err;
  // Its server ends a few seconds after the command and writes system.reg.
  made = wine.Wine({"reg", "import", "keys.reg", "/reg:32"}, dir.path());
  ASSERT_EQ(0, made.status) << made.out << made.err;
  wine.Server("-w");
  const std::string game = dir / "pfx/drive_c/Games/Marovex/";
  fs::create_directories(game);

  GameInstall g(dir.path(), true, "unused");
  g.Ship("patch.txt",
         "updatetype = 0\nsetversion = 2\nsetserver = \"new.example\"\n"
         "dstpath = __MAIN;\nfile = \"A.TXT\", 0\nfile = \"\xCEle.map\", 0\n");
  g.Ship("A.TXT", "from Linux");
  g.Ship("\xC3\x8Ele.map", "island");  // the shipped file as Wine names it: in UTF-8
  ProcessOptions o;
  o.workingDir = g.dist;
  o.environment = {"UPDATER_REGISTRY=" + dir / "pfx/system.reg"};
  o.input = "n\n";

  ASSERT_EQ(0, wine.PersistentServer().status);  // a server runs for the prefix
  ProcessResult refused = RunProgram(g.Updater(), {"patch.txt"}, o);
  wine.Server("-k");
  wine.Server("-w");
  EXPECT_EQ(255, refused.status);
  EXPECT_NE(std::string::npos, refused.err.find("Error reading Registry information "))
      << refused.err;
  EXPECT_NE(std::string::npos, refused.err.find("wineserver")) << refused.err;
  EXPECT_FALSE(fs::exists(game + "A.TXT"));

  ProcessResult p = RunProgram(g.Updater(), {"patch.txt", "-L"}, o);
  ASSERT_EQ(0, p.status) << p.err;
  EXPECT_EQ("from Linux", ReadFileBytes(game + "A.TXT"));
  EXPECT_EQ("island", ReadFileBytes(game + "\xC3\x8Ele.map"));
  // The log names the files where they are, in the code page as on Windows.
  const std::string log = ReadFileBytes(g.dist + "updlog.txt");
  EXPECT_NE(std::string::npos, log.find("Destination : " + game + "A.TXT\r\n")) << log;
  EXPECT_NE(std::string::npos, log.find("Destination : " + game + "\xCEle.map\r\n")) << log;

  ProcessResult version =
      wine.Wine({"reg", "query", "HKLM\\SOFTWARE\\Varnholt\\Marovex\\Version", "/reg:32"});
  EXPECT_NE(std::string::npos, version.out.find("0x2020005")) << version.out;
  EXPECT_NE(std::string::npos, version.out.find("new.example")) << version.out;
  EXPECT_NE(std::string::npos, version.out.find("Ann")) << version.out;
  ProcessResult seen =
      wine.Wine({"cmd", "/c", "type", "C:\\Games\\Marovex\\A.TXT", "&&", "if", "exist",
                 "C:\\Games\\Marovex\\\xC3\x8Ele.map", "echo", "island-found"});
  EXPECT_NE(std::string::npos, seen.out.find("from Linux")) << seen.out << seen.err;
  EXPECT_NE(std::string::npos, seen.out.find("island-found")) << seen.out << seen.err;
}

}  // namespace
