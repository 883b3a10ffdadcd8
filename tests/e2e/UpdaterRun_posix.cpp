// The real updater on a game installation in a temporary folder, with the
// registry file and the console in place of the dialogs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ConsoleUpdater.h"
#include "tests/support/GameInstall.h"
#include "tests/support/Lines.h"
#include "tests/support/Process.h"
#include "tests/support/TestPaths.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const char kVersionKey[] = "SOFTWARE\\Varnholt\\Marovex\\Version";
const char kReport[] = "Update to 2.003.000\r\n- new units\r\n";

// A stand-in for a program: records its arguments, one a line, in
// started.txt beside it.
void InstallRecorder(const std::string& exe) {
  WriteFileBytes(exe, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/started.txt\"\n");
  chmod(exe.c_str(), 0755);
}
void InstallGame(const GameInstall& g) { InstallRecorder(g.game + "MX.exe"); }

struct Install {
  TempDir dir;
  GameInstall g;
  explicit Install(const std::string& gameFolder = "game") : g(dir.path(), true, gameFolder) {
    g.WriteRegistry();
    InstallGame(g);
  }
  ProcessResult Start(const std::vector<std::string>& args, const std::string& input = "n\n",
                      std::function<bool(const std::string&)> interrupt = nullptr) {
    return RunConsoleUpdater(g, args, input, std::move(interrupt));
  }
  // The log's lines; every line ends in CR LF on disk.
  std::vector<std::string> Log(const std::string& name = "updlog.txt") {
    std::string text = ReadFileBytes(g.dist + name);
    EXPECT_TRUE(text.empty() || (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0))
        << "a line without CR LF at the end of the log";
    return SplitLines(text, "\r\n");
  }
  // Waits up to `tries` times 50 ms: the updater does not wait for the game.
  bool GameStarted(std::string* args, int tries = 100) {
    for (int i = 0; i < tries; ++i) {
      if (fs::exists(g.game + "started.txt")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        *args = ReadFileBytes(g.game + "started.txt");
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
};

TEST(UpdaterRun, UpdatesFilesRegistryAndLog) {
  Install r;
  r.g.Ship("patch.txt",
           "// update to 2.003.000\n"
           "updatetype = 1\nbuild = 0, 5\nsetbuild = 3\nsetversion = 2\n"
           "setvertype = 0xDDD1\nsetserver = \"new.example\"\n"
           "dstpath = __MAIN;\nfile = \"A.TXT\", 0\n"
           "dstpath = __DATA + \"SUB\\\\\";\nfile = \"B.DAT\", 0\n"
           "insttypes = 0x80\nfile = \"C.TXT\", 0\n");
  r.g.Ship("A.TXT", "hello");
  const std::string big(700000, 'b');
  r.g.Ship("B.DAT", big);
  r.g.Ship("C.TXT", "not for this installation");
  r.g.Ship("Report.txt", kReport);
  WriteFileBytes(r.g.game + "A.TXT", "old");

  ProcessResult p = r.Start({"patch.txt", "-E", "-L", "-Q", "-"});
  EXPECT_EQ(0, p.status) << p.err;
  // Not on a terminal: one plain line per new destination, then the question.
  EXPECT_EQ("Destination  file : " + r.g.game + "A.TXT\nDestination  file : " + r.g.game +
                "Data/SUB/B.DAT\nStart the game? [y/N] \n",
            p.err);
  EXPECT_EQ("hello", ReadFileBytes(r.g.game + "A.TXT"));
  EXPECT_EQ(big, ReadFileBytes(r.g.game + "Data/SUB/B.DAT"));
  EXPECT_FALSE(fs::exists(r.g.game + "C.TXT"));
  // The copy carries the source's times, to the 100 ns of a file time.
  auto shipped = fs::last_write_time(r.g.dist + "B.DAT").time_since_epoch();
  auto copied = fs::last_write_time(r.g.game + "Data/SUB/B.DAT").time_since_epoch();
  EXPECT_LT(std::chrono::abs(shipped - copied), std::chrono::nanoseconds(100));

  EXPECT_EQ(0x02030000u, RegistryDword(r.g.registry, kVersionKey, "Version"));
  EXPECT_EQ(0xDDD10001u, RegistryDword(r.g.registry, kVersionKey, "Type"));
  std::string server = RegistryBytes(r.g.registry, kVersionKey, "Server");
  EXPECT_EQ(64u, server.size());
  EXPECT_EQ("new.example", std::string(server.c_str()));

  const std::vector<std::string> expected = {
      kLogRule,
      "Destination : " + r.g.game + "A.TXT",
      "Source : " + r.g.dist + "A.TXT",
      "Copyed bytes - 5",
      kLogRule,
      "Destination : " + r.g.game + "Data/SUB/B.DAT",
      "Source : " + r.g.dist + "B.DAT",
      "Copyed bytes - 700000",
  };
  EXPECT_EQ(expected, r.Log());

  EXPECT_NE(std::string::npos,
            p.out.find("The game has been updated successfully !\nNew version is  2.003.000  \n"))
      << p.out;
  EXPECT_NE(std::string::npos, p.out.find(kReport));
  std::string args;
  EXPECT_FALSE(r.GameStarted(&args, 20));
}

TEST(UpdaterRun, FailuresExitWith255AndLogTheError) {
  {
    Install r;
    const std::string before = ReadFileBytes(r.g.registry);
    r.g.Ship("patch.txt", "updatetype = 0\nversion = 7\n");
    ProcessResult p = r.Start({"patch.txt", "-L"});
    EXPECT_EQ(255, p.status);
    EXPECT_EQ(
        (std::vector<std::string>{" ERROR ", "Incorrect version. Current version is  1.002.005 "}),
        r.Log());
    EXPECT_NE(std::string::npos, p.err.find("Incorrect version. Current version is  1.002.005 "));
    EXPECT_EQ(before, ReadFileBytes(r.g.registry));  // the registry keeps the old version
  }
  {
    // A directive left unfinished on the last line (no line feed): error P
    // at that line's end, after the first file was replaced.
    Install r;
    r.g.Ship("patch.txt",
             "updatetype = 0\ndstpath = __MAIN;\nfile = \"A.TXT\", 0\nfile = \"A.TXT\",");
    r.g.Ship("A.TXT", "a");
    ProcessResult p = r.Start({"patch.txt", "-Lrun5"});
    EXPECT_EQ(255, p.status);
    EXPECT_EQ("a", ReadFileBytes(r.g.game + "A.TXT"));
    const std::vector<std::string> expected = {kLogRule,
                                               "Destination : " + r.g.game + "A.TXT",
                                               "Source : " + r.g.dist + "A.TXT",
                                               "Copyed bytes - 1",
                                               " ERROR ",
                                               "Processing file : patch.txt",
                                               "Line : 0004",
                                               "Unknown or invalid parameter ",
                                               " "};
    EXPECT_EQ(expected, r.Log("run5.txt"));
    EXPECT_FALSE(fs::exists(r.g.dist + "updlog.txt"));
  }
}

// text as a Windows editor saves it as "Unicode": UTF-16LE after its mark.
std::string Utf16(const std::string& text) {
  std::string wide = "\xFF\xFE";
  for (char c : text) wide += std::string{c, '\0'};
  return wide;
}

TEST(UpdaterRun, TokenReaderErrorsAreSyntaxErrors) {
  const std::string wideScript =
      Utf16("updatetype = 0\nsetversion = 9\ndstpath = __MAIN;\nfile = \"A.TXT\", 0\n");
  struct Case {
    std::string script;
    const char* line;
    const char* message;
  } cases[] = {
      {"updatetype = 0\nsetserver = \"open\n", "Line : 0002", "Syntax error, code=-210 "},
      {"updatetype = 0\n\ninclude \"missing.txt\"\n", "Line : 0003", "Syntax error, code=-10 "},
      {wideScript, "Line : 0001", "Syntax error, code=-213 "},
  };
  for (const Case& c : cases) {
    Install r;
    r.g.Ship("patch.txt", c.script);
    r.g.Ship("A.TXT", "new");
    const std::string before = ReadFileBytes(r.g.registry);
    ProcessResult p = r.Start({"patch.txt", "-L"});
    EXPECT_EQ(255, p.status) << c.script;
    EXPECT_EQ(
        (std::vector<std::string>{" ERROR ", "Processing file : patch.txt", c.line, c.message}),
        r.Log())
        << c.script;
    EXPECT_NE(std::string::npos, p.err.find(c.message)) << p.err;
    EXPECT_EQ(before, ReadFileBytes(r.g.registry));
    EXPECT_FALSE(fs::exists(r.g.game + "A.TXT"));
  }
}

TEST(UpdaterRun, StartUpFailures) {
  Install r;
  ProcessResult none = r.Start({});
  EXPECT_EQ(255, none.status);
  EXPECT_NE(std::string::npos, none.err.find("Error open file ")) << none.err;

  // An option before the script path is taken as the script path.
  r.g.Ship("patch.txt", "updatetype = 0\n");
  ProcessResult swapped = r.Start({"-L", "patch.txt"});
  EXPECT_EQ(255, swapped.status);
  EXPECT_NE(std::string::npos, swapped.err.find("Error open file -L")) << swapped.err;
  EXPECT_FALSE(fs::exists(r.g.dist + "updlog.txt"));

  fs::remove(r.g.registry);
  ProcessResult noRegistry = r.Start({"patch.txt", "-L"});
  EXPECT_EQ(255, noRegistry.status);
  // A second line names the registry file, and a third why it failed.
  EXPECT_EQ((std::vector<std::string>{" ERROR ", "Error reading Registry information ",
                                      "Registry file: " + r.g.registry +
                                          " (the environment variable UPDATER_REGISTRY chooses it)",
                                      "The file does not exist."}),
            r.Log());
}

TEST(UpdaterRun, EmptyScriptCompletesAndStartsTheGame) {
  Install r;
  r.g.Ship("patch.txt", "");
  r.g.Ship("Report.txt", "");
  ProcessResult p = r.Start({"patch.txt", "-R-skipintro"}, "y\n");
  EXPECT_EQ(0, p.status) << p.err;
  EXPECT_EQ(0x01020005u, RegistryDword(r.g.registry, kVersionKey, "Version"));
  EXPECT_EQ(0xD0DD0001u, RegistryDword(r.g.registry, kVersionKey, "Type"));
  EXPECT_EQ("old.example", std::string(RegistryBytes(r.g.registry, kVersionKey, "Server").c_str()));
  EXPECT_NE(std::string::npos, p.out.find("New version is  1.002.005  \n"));
  std::string args;
  ASSERT_TRUE(r.GameStarted(&args));
  EXPECT_EQ("-skipintro\n", args);
}

// Exactly MainPath + MX.exe starts, blanks and all, and never a program
// named by a prefix of it; the -R text is split as the game's C runtime
// would split it.
TEST(UpdaterRun, GameInAFolderWithBlanksStartsWithQuotedArguments) {
  Install r("My Game");
  InstallRecorder(r.g.root + "My");
  r.g.Ship("patch.txt", "");
  ProcessResult p =
      r.Start({"patch.txt", R"(-R-name "Player One" -say \"hi\" C:\Saves\ "x y\\")"}, "y\n");
  EXPECT_EQ(0, p.status) << p.err;
  EXPECT_EQ(std::string::npos, p.err.find(" ERROR ")) << p.err;
  std::string args;
  ASSERT_TRUE(r.GameStarted(&args));
  EXPECT_EQ("-name\nPlayer One\n-say\n\"hi\"\nC:\\Saves\\\nx y\\\n", args);
  EXPECT_FALSE(fs::exists(r.g.root + "started.txt"));
}

// The update has succeeded: a game that cannot start is reported, and the
// run still ends with 0.
TEST(UpdaterRun, GameThatCannotStartIsReported) {
  for (bool present : {false, true}) {
    Install r;
    const std::string exe = r.g.game + "MX.exe";
    if (present) {
      chmod(exe.c_str(), 0644);
    } else {
      fs::remove(exe);
    }
    r.g.Ship("patch.txt", "");
    ProcessResult p = r.Start({"patch.txt", "-L"}, "y\n");
    EXPECT_EQ(0, p.status) << p.err;
    EXPECT_NE(std::string::npos, p.err.find("Error starting program " + exe)) << p.err;
    EXPECT_EQ((std::vector<std::string>{" ERROR ", "Error starting program " + exe}), r.Log());
  }
}

TEST(UpdaterRun, WithoutReportTheQuestionIsAsked) {
  Install r;
  r.g.Ship("patch.txt", "updatetype = 0\n");
  ProcessResult no = r.Start({"patch.txt"}, "n\n");
  EXPECT_EQ(0, no.status);
  EXPECT_NE(std::string::npos, no.err.find(" DONE ")) << no.err;
  EXPECT_NE(std::string::npos,
            no.err.find("New version is  1.002.005  \n\nDo you want to start the game? "));
  EXPECT_EQ(std::string::npos, no.out.find("Start the game?"));
  std::string args;
  EXPECT_FALSE(r.GameStarted(&args, 20));

  // The end of input is No, with or without the report.
  for (const char* report : {"", "news\r\n"}) {
    if (*report != '\0') r.g.Ship("Report.txt", report);
    ProcessResult ended = r.Start({"patch.txt"}, "");
    EXPECT_EQ(0, ended.status);
    EXPECT_NE(std::string::npos, ended.err.find("[y/N] \n")) << ended.err;
    EXPECT_FALSE(r.GameStarted(&args, 20));
  }

  ProcessResult yes = r.Start({"patch.txt", "-rfirst", "-Rsecond"}, "y\n");
  EXPECT_EQ(0, yes.status);
  ASSERT_TRUE(r.GameStarted(&args));
  EXPECT_EQ("second\n", args);
}

// What a terminal showed of the status line: each draw goes back to the
// line's start ("\r") and ends by erasing what is left of it.
std::vector<std::string> StatusDraws(const std::string& shown) {
  std::vector<std::string> draws;
  for (size_t end = 0; (end = shown.find("\033[K", end)) != std::string::npos; end += 3) {
    const size_t start = shown.rfind('\r', end);
    draws.push_back(shown.substr(start + 1, end - start - 1));
  }
  return draws;
}

TerminalOptions OnTerminal(const Install& r, unsigned short columns) {
  TerminalOptions o;
  o.workingDir = r.g.dist;
  o.environment = {"UPDATER_REGISTRY=" + r.g.registry, "COLUMNS=72"};
  o.columns = columns;
  return o;
}

// On a terminal the status line fits its width ($COLUMNS where the
// terminal tells none), with the destination shortened in the middle, is
// redrawn in place and shows the final counts once more before the
// completion. Started as ./updater, the updater still names its files by
// absolute paths; the report shows in the terminal's encoding; the end of
// input (Ctrl-D) at the question starts nothing.
TEST(UpdaterRun, OnATerminalTheStatusLineFitsAndEndsWithTheFinalCounts) {
  for (unsigned short columns : {80, 0}) {
    Install r("a-game-folder-with-a-name-long-enough-to-be-shortened");
    r.g.Ship("patch.txt",
             "updatetype = 0\ndstpath = __DATA + \"SUB\\\\\";\n"
             "file = \"B.DAT\", 0\nfile = \"Z.DAT\", 0\n");
    r.g.Ship("B.DAT", std::string(3 << 20, 'b'));
    r.g.Ship("Z.DAT", "z");
    r.g.Ship("Report.txt", "Caf\xE9 \x80\r\n");  // code page 1252
    TerminalOptions o = OnTerminal(r, columns);
    o.typing = {{"Start the game? [y/N] ", "\x04"}};
    TerminalResult t = RunInTerminal("./updater", {"patch.txt", "-L"}, o);
    const size_t width = columns != 0 ? columns : 72;
    EXPECT_EQ(0, t.status) << t.output;
    const std::vector<std::string> draws = StatusDraws(t.output);
    ASSERT_GE(draws.size(), 3u) << t.output;
    for (const std::string& d : draws) EXPECT_LT(d.size(), width) << d;
    const size_t first = t.output.find('\r'), last = t.output.rfind("\033[K");
    EXPECT_EQ(std::string::npos, t.output.substr(first, last - first).find('\n')) << t.output;
    const std::string counts = "Files updated: 2  Units updated : 0  Bytes updated : 3145729  ";
    ASSERT_EQ(draws.back().compare(0, counts.size(), counts), 0) << draws.back();
    const std::string shown = draws.back().substr(counts.size());
    EXPECT_NE(std::string::npos, shown.find("...")) << shown;
    EXPECT_EQ(shown.substr(shown.size() - 6), "/Z.DAT") << shown;
    // The line is ended before the completion (and its beep).
    EXPECT_EQ(last, t.output.find("\033[K\r\n\aThe game has been updated successfully !\r\n"))
        << t.output;
    EXPECT_EQ(std::string::npos, t.output.find('\\')) << t.output;
    EXPECT_NE(std::string::npos, t.output.find("Caf\xC3\xA9 \xE2\x82\xAC\r"));  // in UTF-8
    EXPECT_EQ(r.Log()[2], "Source : " + r.g.dist + "B.DAT");
    std::string args;
    EXPECT_FALSE(r.GameStarted(&args, 20));
  }
}

// Ctrl-C on a terminal is Cancel; its error starts on a line of its own,
// not after the "^C" the terminal echoed.
TEST(UpdaterRun, CtrlCOnATerminalStartsTheErrorOnANewLine) {
  Install r;
  r.g.ShipSlowUpdate(12, 48 << 20, kReport);
  TerminalOptions o = OnTerminal(r, 80);
  o.typing = {{"BIG.DAT", "\x03"}};
  TerminalResult t = RunInTerminal("./updater", {"patch.txt"}, o);
  EXPECT_EQ(255, t.status) << t.output;
  const size_t error = t.output.find("[ ERROR ]");
  ASSERT_NE(std::string::npos, error) << t.output;
  EXPECT_EQ('\n', t.output[error - 1]) << t.output;
  EXPECT_NE(std::string::npos, t.output.find("User`s break ", error)) << t.output;
}

TEST(UpdaterRun, InterruptIsCancel) {
  Install r;
  r.g.ShipSlowUpdate(12, 48 << 20, kReport);
  const std::string before = ReadFileBytes(r.g.registry);
  ProcessResult p = r.Start({"patch.txt", "-L"}, "n\n", [](const std::string& out) {
    return out.find("Destination  file :") != std::string::npos;
  });
  EXPECT_EQ(255, p.status) << p.out << p.err;
  EXPECT_NE(std::string::npos, p.err.find("User`s break ")) << p.err;
  std::vector<std::string> log = r.Log();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(" ERROR ", log[log.size() - 4]);
  EXPECT_EQ("Processing file : patch.txt", log[log.size() - 3]);
  EXPECT_EQ("User`s break  ", log.back());
  EXPECT_EQ(before, ReadFileBytes(r.g.registry));
  EXPECT_FALSE(fs::exists(r.g.game + "D11/BIG.DAT"));
}

}  // namespace
