// updkit pkg: a folder built into a package, listed and extracted again
// comes back byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "tests/update/PackageTestKit.h"

namespace fs = std::filesystem;

namespace pkgtest {
namespace {

// Runs updkit with the arguments (each quoted); its output goes to *output.
// Returns the status system() gives: 0 for success.
int RunUpdkit(const testing_support::TempDir& tmp, const std::vector<std::string>& args,
              std::string* output) {
  std::string exe = testing_support::UpdkitPath();
  const bool windows = exe.size() > 4 && exe.compare(exe.size() - 4, 4, ".exe") == 0;
  if (windows) std::replace(exe.begin(), exe.end(), '/', '\\');
  std::string command = "\"" + exe + "\"";
  for (const std::string& a : args) command += " \"" + a + "\"";
  const std::string out = tmp / "updkit.out";
  command += " > \"" + out + "\" 2>&1";
  if (windows) command = "\"" + command + "\"";  // cmd /c strips one outer pair
  const int status = std::system(command.c_str());
  *output = testing_support::ReadFileBytes(out);
  return status;
}

// Every file and folder below root: relative path -> bytes ("/" for a folder).
std::map<std::string, std::string> Tree(const std::string& root) {
  std::map<std::string, std::string> tree;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(e.path(), root).generic_string();
    tree[rel] = e.is_directory() ? "/" : testing_support::ReadFileBytes(e.path().string());
  }
  return tree;
}

std::vector<std::vector<std::string>> Rows(const std::string& listing) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(listing);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> cells;
    std::istringstream fields(line);
    std::string cell;
    while (std::getline(fields, cell, '\t')) cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

class UpdkitPkg : public ::testing::Test {
 protected:
  testing_support::TempDir tmp;
  std::string src = tmp / "src";
  std::string output;

  void SetUp() override {
    fs::create_directories(src + "/a/b");
    fs::create_directories(src + "/e/f");
    testing_support::WriteFileBytes(src + "/a/b/text.txt", Text(150000));
    testing_support::WriteFileBytes(src + "/noise.bin", Noise(100000));
    testing_support::WriteFileBytes(src + "/a/x.txt", "x");
    testing_support::WriteFileBytes(src + "/a/zero", "");
  }
};

TEST_F(UpdkitPkg, PackedBuildListsAndExtractsByteForByte) {
  const std::string package = tmp / "x.pq";
  ASSERT_EQ(
      0, RunUpdkit(tmp,
                   {"pkg", "build", package, "--from", src, "--lz", "--chunk-kib", "4", "--time-of",
                    "a/x.txt=2001-06-15T02:30:00", "--time-of", "noise.bin=2001-06-15T14:30:00"},
                   &output))
      << output;

  ASSERT_EQ(0, RunUpdkit(tmp, {"pkg", "list", package}, &output)) << output;
  const auto rows = Rows(output);
  ASSERT_EQ(6u, rows.size()) << output;
  EXPECT_EQ((std::vector<std::string>{"NAME", "FOLDER", "METHOD", "CHUNK_KIB", "CHUNKS", "SIZE",
                                      "STORED", "TIME"}),
            rows[0]);
  std::map<std::string, std::vector<std::string>> byName;
  for (size_t i = 1; i < rows.size(); ++i) byName[rows[i].at(0)] = rows[i];
  // Text packs; noise does not pay and is written again stored (the package
  // is cut after its trailer); the empty folder has its entry.
  EXPECT_EQ((std::vector<std::string>{"text.txt", "a\\b", "lz", "4", "37", "150000"}),
            std::vector<std::string>(byName["text.txt"].begin(), byName["text.txt"].begin() + 6));
  EXPECT_LT(std::stoul(byName["text.txt"].at(6)), 150000u / 4);
  EXPECT_EQ("stored", byName["noise.bin"].at(2));
  EXPECT_EQ("-", byName["noise.bin"].at(1));
  EXPECT_EQ("100000", byName["noise.bin"].at(6));
  EXPECT_EQ("2001-06-15 14:30:00.000", byName["noise.bin"].at(7));
  EXPECT_EQ("0", byName["zero"].at(4));
  EXPECT_EQ("e\\f", byName["*EMPTY"].at(1));

  const std::string out = tmp / "out";
  ASSERT_EQ(0, RunUpdkit(tmp, {"pkg", "extract", package, out}, &output)) << output;
  EXPECT_EQ(Tree(src), Tree(out));
  // Extracting applies the installer's hour rule.
  EXPECT_EQ(FileTimeOf(2001, 6, 15, 2, 30), TimesOf(out + "/a/x.txt").lastWrite);
  EXPECT_EQ(FileTimeOf(2001, 6, 15, 10, 30), TimesOf(out + "/noise.bin").lastWrite);
}

TEST_F(UpdkitPkg, StoredBuildInstallsThroughInstallFiles) {
  const std::string package = tmp / "s.pq";
  ASSERT_EQ(0,
            RunUpdkit(tmp, {"pkg", "build", package, "--from", src, "--chunk-kib", "1"}, &output))
      << output;
  ASSERT_EQ(0, RunUpdkit(tmp, {"pkg", "list", package}, &output)) << output;
  for (const auto& row : Rows(output)) {
    if (row.at(0) != "NAME") {
      EXPECT_EQ("stored", row.at(2)) << row.at(0);
    }
  }
  const std::string game = tmp / "game";
  fs::create_directories(game);
  testing_support::RecordingSink sink;
  char failed[kPathField];
  ASSERT_EQ(0, InstallFiles(sink, tmp.path().c_str(), game.c_str(), "s.pq", failed, sizeof failed))
      << failed;
  EXPECT_EQ(Tree(src), Tree(game));
  EXPECT_EQ(4, sink.counters.files);
  EXPECT_EQ(150000 + 100000 + 1, sink.counters.bytes);
}

TEST_F(UpdkitPkg, DamagedPackageIsRefusedByListAndExtract) {
  const std::string package = tmp / "d.pq";
  ASSERT_EQ(0, RunUpdkit(tmp, {"pkg", "build", package, "--from", src, "--lz"}, &output)) << output;
  std::string bytes = testing_support::ReadFileBytes(package);
  bytes.resize(bytes.size() - 1);  // the trailer no longer points at the directory
  testing_support::WriteFileBytes(package, bytes);

  EXPECT_NE(0, RunUpdkit(tmp, {"pkg", "list", package}, &output));
  EXPECT_NE(std::string::npos, output.find("damaged package")) << output;
  const std::string out = tmp / "out";
  EXPECT_NE(0, RunUpdkit(tmp, {"pkg", "extract", package, out}, &output));
  EXPECT_NE(std::string::npos, output.find("code -2")) << output;
  EXPECT_TRUE(fs::is_empty(out));
}

TEST_F(UpdkitPkg, FailedBuildLeavesTheEarlierPackage) {
  const std::string package = tmp / "p.pq";
  ASSERT_EQ(0, RunUpdkit(tmp, {"pkg", "build", package, "--from", src}, &output)) << output;
  const std::string before = testing_support::ReadFileBytes(package);
  // Every file is written before the folder that does not fit a field fails.
  EXPECT_NE(0, RunUpdkit(tmp,
                         {"pkg", "build", package, "--from", src, "--lz", "--empty",
                          std::string(300, 'f')},
                         &output));
  EXPECT_NE(std::string::npos, output.find("longer than 259")) << output;
  EXPECT_TRUE(before == testing_support::ReadFileBytes(package));
  EXPECT_EQ((std::vector<std::string>{"p.pq", "src", "updkit.out"}),
            testing_support::FolderNames(tmp.path()));
}

TEST_F(UpdkitPkg, HelpAndBadArguments) {
  EXPECT_EQ(0, RunUpdkit(tmp, {"pkg", "--help"}, &output));
  EXPECT_NE(std::string::npos, output.find("updkit pkg build OUT --from DIR")) << output;
  EXPECT_NE(0, RunUpdkit(tmp, {"pkg", "build", tmp / "y.pq", "--from", src, "--chunk-kib", "0"},
                         &output));
  EXPECT_NE(
      0,
      RunUpdkit(tmp, {"pkg", "build", tmp / "y.pq", "--from", src, "--time", "2001-13-01T00:00:00"},
                &output));
}

}  // namespace
}  // namespace pkgtest
