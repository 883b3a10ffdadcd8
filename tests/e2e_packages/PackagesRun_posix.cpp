// The real updater installing packages built by `updkit pkg build`
// (`file = "x.pq", 2;`) into a game installation in a temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ConsoleUpdater.h"
#include "tests/support/GameInstall.h"
#include "tests/support/Lines.h"
#include "tests/support/Process.h"
#include "tests/update/PackageTestKit.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace pkgtest {
namespace {

struct PackagedUpdate {
  TempDir dir;
  GameInstall g{dir.path()};
  std::string src = dir / "src";

  PackagedUpdate() {
    g.WriteRegistry();
    fs::create_directories(src + "/a/b");
    fs::create_directories(src + "/empty/inner");
    WriteFileBytes(src + "/a/b/text.txt", Text(5000));  // packs, five 1 KiB chunks
    WriteFileBytes(src + "/a/noise.bin", Noise(2600));  // does not pay: stored
    WriteFileBytes(src + "/early.txt", "early");
    WriteFileBytes(src + "/late.txt", "late");
  }
  ProcessResult Updkit(const std::vector<std::string>& args) {
    return RunProgram(UpdkitPath(), args);
  }
  ProcessResult Update() { return RunConsoleUpdater(g, {"patch.txt", "-L"}); }
  std::vector<std::string> Log() {
    std::string text = ReadFileBytes(g.dist + "updlog.txt");
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return SplitLines(text, "\n");
  }
};

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(PackagedUpdate, InstallsPackagesAndPlainFiles) {
  PackagedUpdate u;
  ProcessResult b = u.Updkit({"pkg", "build", u.g.dist + "x.pq", "--from", u.src, "--lz",
                              "--chunk-kib", "1", "--time-of", "early.txt=2002-03-04T02:30:00",
                              "--time-of", "late.txt=2002-03-04T14:30:00"});
  ASSERT_EQ(0, b.status) << b.err;
  u.g.Ship("plain.bin", "PX is not a package");
  u.g.Ship("patch.txt",
           "updatetype = 0\n"
           "dstpath = __MAIN + \"PKG\\\\\";\nfile = \"x.pq\", 2;\n"
           "dstpath = __MAIN;\nfile = \"plain.bin\", 7;\n");

  ProcessResult p = u.Update();
  ASSERT_EQ(0, p.status) << p.err;
  const std::string pkg = u.g.game + "PKG/";
  EXPECT_EQ(Text(5000), ReadFileBytes(pkg + "a/b/text.txt"));
  EXPECT_EQ(Noise(2600), ReadFileBytes(pkg + "a/noise.bin"));
  EXPECT_TRUE(fs::is_directory(pkg + "empty/inner"));
  EXPECT_EQ("PX is not a package", ReadFileBytes(u.g.game + "plain.bin"));
  EXPECT_EQ(FileTimeOf(2002, 3, 4, 2, 30), TimesOf(pkg + "early.txt").lastWrite);
  EXPECT_EQ(FileTimeOf(2002, 3, 4, 10, 30), TimesOf(pkg + "late.txt").lastWrite);

  const std::vector<std::string> log = u.Log();
  for (const char* rel : {"a/b/text.txt", "a/noise.bin", "early.txt", "late.txt"}) {
    EXPECT_TRUE(Has(log, "Updated file : " + pkg + rel)) << rel;
  }
  EXPECT_TRUE(Has(log, "Files updated - 4, Bytes updated = 7609  "));
  EXPECT_TRUE(Has(log, "Files updated - 1, Bytes updated = 19  "));
}

TEST(PackagedUpdate, DamagedPackageEndsTheRunWithItsPath) {
  PackagedUpdate u;
  ProcessResult b = u.Updkit({"pkg", "build", u.g.dist + "bad.pq", "--from", u.src});
  ASSERT_EQ(0, b.status) << b.err;
  std::string bytes = ReadFileBytes(u.g.dist + "bad.pq");
  PutU32(bytes, bytes.size() - 4, 1000);  // far more entries than the directory holds
  WriteFileBytes(u.g.dist + "bad.pq", bytes);
  u.g.Ship("patch.txt", "updatetype = 0\ndstpath = __MAIN;\nfile = \"bad.pq\", 2;\n");

  ProcessResult p = u.Update();
  EXPECT_EQ(255, p.status);
  const std::string message = "Error reading file  " + u.g.dist + "bad.pq";
  EXPECT_NE(std::string::npos, p.err.find(message)) << p.err;
  const std::vector<std::string> log = u.Log();
  EXPECT_TRUE(Has(log, " ERROR "));
  EXPECT_TRUE(Has(log, message));
  EXPECT_FALSE(fs::exists(u.g.game + "early.txt"));
}

}  // namespace
}  // namespace pkgtest
