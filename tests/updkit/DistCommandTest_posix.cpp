// updkit dist check and dist plan on a distribution built with updkit: a
// copied file, records merged into a store (with a font), a package. check
// passes it and names each fault planted in a copy of it; plan leaves the
// installation and the registry as they were and names exactly what the
// real updater then changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "tests/support/ConsoleUpdater.h"
#include "tests/support/Dib.h"
#include "tests/support/GameInstall.h"
#include "tests/support/Lines.h"
#include "tests/support/Pattern.h"
#include "tests/support/Process.h"
#include "tests/support/TestPaths.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const char kScript[] =
    "updatetype = 1\n"                      // 1
    "version = 1\n"                         // 2
    "build = 0, 2\n"                        // 3
    "setbuild = 3\n"                        // 4
    "dstpath = __MAIN;\n"                   // 5
    "file = \"readme.txt\", 0;\n"           // 6
    "dstpath = __DATA;\n"                   // 7
    "file = \"units.dkx\", 1;\n"            // 8: the store is UNITS.DKX
    "dstpath = __MAIN + \"Addons\\\\\";\n"  // 9
    "file = \"ADDONS.PAK\", 2;\n";          // 10

struct Distribution {
  TempDir dir;
  GameInstall g{dir.path(), true, "Spiel-\xc3\xbc"};  // a name beyond ASCII
  std::string work = dir / "work/";
  int files = 0;

  // A game at 1.002.005 and the update to 1.003.000 in g.dist.
  Distribution() {
    g.WriteRegistry();
    fs::create_directories(work + "pkg/Maps");
    WriteFileBytes(g.game + "readme.txt", "old readme\r\n");
    const std::string game = g.game + "Data/UNITS.DKX";
    Kit({"store", "create", game});
    Put(game, "M_SPR", "hero", Pattern(300, 1));
    Put(game, "M_SPR", "orc", Pattern(50, 2));
    Put(game, "M_WAV", "same", Pattern(80, 3));

    g.Ship("patch.txt", kScript);
    g.Ship("readme.txt", "new readme\r\n");
    g.Ship("Report.txt", "Version 1.003.000\r\nNew maps.\r\n");
    const std::string store = g.dist + "UNITS.DKX";
    Kit({"store", "create", store});
    Put(store, "M_SPR", "hero", std::string(4000, 'h'), "1");  // replaced, packed
    Put(store, "M_WAV", "same", Pattern(80, 3));               // the same bytes again
    Put(store, "M_WAV", "boom", Pattern(90, 4));               // added
    Kit({"store", "put-font", store, "arial", File(Dib(4, 2, 'a'))});
    WriteFileBytes(work + "pkg/Maps/north.map", std::string(20000, 'n'));
    // A name beyond ASCII: UTF-8 on the disk, the code page's bytes in the
    // package, as the game names it.
    WriteFileBytes(work + "pkg/M\xc3\xbcller.txt", "credits");
    Kit({"pkg", "build", g.dist + "ADDONS.PAK", "--from", work + "pkg", "--lz"});
    EXPECT_NE(std::string::npos, ReadFileBytes(g.dist + "ADDONS.PAK").find("M\xfcller.txt"));
  }

  ProcessResult Kit(const std::vector<std::string>& args, int status = 0) {
    ProcessResult p = RunProgram(UpdkitPath(), args);
    EXPECT_EQ(status, p.status) << args[0] << " " << args[1] << ": " << p.err << p.out;
    return p;
  }
  std::string File(const std::string& bytes) {
    const std::string path = work + "f" + std::to_string(files++);
    WriteFileBytes(path, bytes);
    return path;
  }
  void Put(const std::string& store, const char* section, const char* name,
           const std::string& bytes, const char* pack = "0") {
    Kit({"store", "put", store, section, name, File(bytes), "--pack", pack});
  }
};

std::string Replaced(const std::string& text, const std::string& from, const std::string& to) {
  std::string out = text;
  out.replace(out.find(from), from.size(), to);
  return out;
}

void Cut(const std::string& path, size_t keep) {
  WriteFileBytes(path, ReadFileBytes(path).substr(0, keep));
}

TEST(DistCheck, PassesAWellFormedDistributionAndNamesEachFault) {
  Distribution d;
  struct Case {
    const char* what;
    std::function<void(const std::string& dist)> plant;
    const char* finding;  // a line of the output starts with it; null: no finding
  };
  const std::string script = kScript;
  const Case kCases[] = {
      {"well-formed (the store named in another case)", [](const std::string&) {}, nullptr},
      {"a missing shipped file", [](const std::string& dist) { fs::remove(dist + "readme.txt"); },
       "patch.txt:6: error: readme.txt: shipped file missing from the distribution"},
      {"a cut package",
       [](const std::string& dist) {
         Cut(dist + "ADDONS.PAK", ReadFileBytes(dist + "ADDONS.PAK").size() - 100);
       },
       "patch.txt:10: error: ADDONS.PAK: damaged package"},
      {"a damaged store", [](const std::string& dist) { Cut(dist + "UNITS.DKD", 60); },
       "patch.txt:8: error: units.dkx: "},
      {"a font surface taller than its block",
       [](const std::string& dist) {
         std::string data = ReadFileBytes(dist + "UNITS.DKD");
         const size_t at = data.find(Dib(4, 2, 'a'));
         ASSERT_NE(std::string::npos, at);
         data[at + 8] = 9;  // biHeight 9 rows, where 2 are stored
         WriteFileBytes(dist + "UNITS.DKD", data);
       },
       "patch.txt:8: error: units.dkx: font arial: surface 0 is cut"},
      {"a script error",
       [&](const std::string& dist) {
         WriteFileBytes(dist + "patch.txt",
                        Replaced(script, "\"readme.txt\", 0", "\"readme.txt\" 0"));
       },
       "patch.txt:6: error: Unknown or invalid parameter 0"},
      {"an escaping folder",
       [&](const std::string& dist) {
         WriteFileBytes(dist + "patch.txt",
                        Replaced(script, "\"Addons\\\\\"", "\"..\\\\..\\\\Windows\\\\\""));
       },
       "patch.txt:10: error: ADDONS.PAK: ..\\..\\Windows\\ leaves the game's folder"},
      {"an impossible version range",
       [&](const std::string& dist) {
         WriteFileBytes(dist + "patch.txt", Replaced(script, "setbuild = 3", "build = 5, 7"));
       },
       "patch.txt:4: error: no installed version passes the version checks"},
      {"a new version not above the accepted ones",
       [&](const std::string& dist) {
         WriteFileBytes(dist + "patch.txt", Replaced(script, "build = 0, 2", "build = 0, 5"));
       },
       "patch.txt:4: error: the new version 1.003.000 is not above 1.003.65535"},
      {"an oversized report",
       [](const std::string& dist) {
         WriteFileBytes(dist + "Report.txt", std::string(70000, 'r'));
       },
       "Report.txt:0: error: 70000 bytes"},
  };
  int n = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const std::string dist = d.dir / ("Fall-\xc3\xbc" + std::to_string(n++) + "/");
    fs::copy(d.g.dist, dist, fs::copy_options::recursive);
    c.plant(dist);
    const ProcessResult p = d.Kit({"dist", "check", dist}, c.finding != nullptr ? 1 : 0);
    const std::vector<std::string> lines = SplitLines(p.out, "\n");
    ASSERT_FALSE(lines.empty()) << p.err;
    if (c.finding == nullptr) {
      EXPECT_EQ(std::vector<std::string>{"patch.txt: accepts 1.000.000 to 1.002.65535, writes "
                                         "1.003.000"},
                lines);
      continue;
    }
    const bool named = std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.rfind(c.finding, 0) == 0;
    });
    EXPECT_TRUE(named) << p.out;
  }
}

// Every file below root: its path -> its bytes; a folder maps to "/".
std::map<std::string, std::string> Tree(const std::string& root) {
  std::map<std::string, std::string> tree;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    tree[e.path().string()] = e.is_directory() ? "/" : ReadFileBytes(e.path().string());
  }
  return tree;
}

// Every record of a store: "SECTIONNAME NAME" -> its pack method and bytes.
std::map<std::string, std::string> Records(Distribution& d, const std::string& store) {
  std::map<std::string, std::string> records;
  for (const std::string& row : SplitLines(d.Kit({"store", "list", store}).out, "\n")) {
    std::vector<std::string> cells;
    for (size_t start = 0, tab;; start = tab + 1) {
      tab = row.find('\t', start);
      cells.push_back(row.substr(start, tab == std::string::npos ? tab : tab - start));
      if (tab == std::string::npos) break;
    }
    const std::string out = d.work + "record";
    d.Kit({"store", "get", store, cells.at(0), cells.at(2), out});
    std::string section = cells.at(1);
    while (section.back() == ' ') section.pop_back();
    records[section + " " + cells.at(2)] = cells.at(4) + ":" + ReadFileBytes(out);
  }
  return records;
}

// The lines of a section of the plan ("files:", ...), without their indent.
std::vector<std::string> Section(const std::string& plan, const std::string& heading) {
  std::vector<std::string> lines;
  bool in = false;
  for (const std::string& line : SplitLines(plan, "\n")) {
    if (!line.empty() && line[0] != ' ') {
      in = line == heading;
    } else if (in) {
      lines.push_back(line.substr(2));
    }
  }
  return lines;
}

TEST(DistPlan, ChangesNothingAndNamesWhatTheUpdaterThenChanges) {
  Distribution d;
  const std::string store = d.g.game + "Data/UNITS.DKX";
  const auto tree = Tree(d.g.game);
  const auto records = Records(d, store);
  const std::string registry = ReadFileBytes(d.g.registry);

  const ProcessResult plan = d.Kit({"dist", "plan", d.g.dist, "--registry", d.g.registry});
  EXPECT_EQ(tree, Tree(d.g.game));
  EXPECT_EQ(registry, ReadFileBytes(d.g.registry));

  ProcessResult run = RunConsoleUpdater(d.g, {"patch.txt", "-L"});
  ASSERT_EQ(0, run.status) << run.err;
  // The files and folders the run made or changed, as "create PATH",
  // "replace PATH" and "folder PATH".
  std::set<std::string> changed;
  for (const auto& now : Tree(d.g.game)) {
    auto was = tree.find(now.first);
    if (was != tree.end() && was->second == now.second) continue;
    const std::string kind = now.second == "/"   ? "folder  "
                             : was == tree.end() ? "create  "
                                                 : "replace ";
    changed.insert(kind + now.first);
  }
  std::set<std::string> planned;
  for (const std::string& line : Section(plan.out, "files:")) {
    planned.insert(line.substr(0, line.find(" (")));
  }
  EXPECT_EQ(changed, planned) << plan.out;

  std::set<std::string> changedRecords;
  for (const auto& now : Records(d, store)) {
    auto was = records.find(now.first);
    if (was == records.end()) changedRecords.insert("add     " + now.first);
    if (was != records.end() && was->second != now.second)
      changedRecords.insert("replace " + now.first);
  }
  std::set<std::string> plannedRecords;
  for (const std::string& line : Section(plan.out, "records:")) {
    // "add     PATH  SECTION  NAME  len ..."
    const size_t section = line.find("  ", 8) + 2;
    const size_t name = line.find("  ", section) + 2;
    const std::string record = line.substr(section, name - 2 - section) + " " +
                               line.substr(name, line.find("  ", name) - name);
    plannedRecords.insert(line.substr(0, 8) + record);
  }
  EXPECT_EQ(changedRecords, plannedRecords) << plan.out;
  EXPECT_EQ(
      (std::set<std::string>{"replace M_SPR hero", "add     M_WAV boom", "add     M_FNT arial"}),
      plannedRecords);

  // The version it said it would write, and the updater's log, word for word.
  const std::vector<std::string> values = Section(plan.out, "registry:");
  EXPECT_NE(values.end(),
            std::find(values.begin(), values.end(),
                      "changed SOFTWARE\\Varnholt\\Marovex\\Version\\Version = dword:01030000 "
                      "(was dword:01020005)"))
      << plan.out;
  EXPECT_EQ(0x01030000u,
            RegistryDword(d.g.registry, "SOFTWARE\\Varnholt\\Marovex\\Version", "Version"));
  // The log is in the code page; the plan shows it as the console does.
  EXPECT_EQ(SplitLines(plat::AnsiToUtf8(ReadFileBytes(d.g.dist + "updlog.txt")), "\r\n"),
            Section(plan.out, "log:"));
  EXPECT_EQ("exit code: 0", SplitLines(plan.out, "\n").back());

  // Applied once, the update refuses the installation it made: so does the
  // plan, with the updater's message and exit status.
  const ProcessResult again = d.Kit({"dist", "plan", d.g.dist, "--registry", d.g.registry}, 255);
  const std::vector<std::string> shown = Section(again.out, "messages:");
  ASSERT_EQ(2u, shown.size()) << again.out;
  EXPECT_EQ("[ERROR] answered OK", shown[0]);
  EXPECT_EQ("  Incorrect version. Current version is  1.003.000 ", shown[1]);
}

}  // namespace
