// `updkit script tokens` run as a process on small scripts.
#include <cstdlib>

#include "tests/script/ScriptTestKit.h"

namespace {

using script_test::ScriptTest;

class TokensCommandTest : public ScriptTest {
 protected:
  // Runs updkit in the scratch folder; returns its exit status, its standard
  // output in *out with line ends as "\n".
  int Run(const std::string& arguments, std::string* out) {
    std::string command = updkit_ + " " + arguments + " > out.txt";
    int status = std::system(command.c_str());
    *out = testing_support::ReadFileBytes(dir_ / "out.txt");
    // Standard output is a text stream: lines end in CR LF on Windows. The
    // listing itself never holds a raw CR (it is written as \r).
    for (size_t at = out->find("\r\n"); at != std::string::npos; at = out->find("\r\n", at))
      out->erase(at, 1);
    return status;
  }
  static std::string Quoted(const std::string& path) {
    return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
  }
  // Taken before the test makes the scratch folder current.
  std::string updkit_ = Quoted(
      std::filesystem::absolute(std::filesystem::path(previous_) / testing_support::UpdkitPath())
          .make_preferred()
          .string());
};

TEST_F(TokensCommandTest, ListsTokensWithFileLineCodeTextAndValue) {
  Write("inc.txt", "file = \"A\\\\B.DKX\", 1;");
  Write("main.txt",
        "macro V \"'x'\"\r\n"
        "updatetype = 0x10, V\t// note\n"
        "include \"inc.txt\"\n"
        "dstpath \"a\\tb\"\n");
  std::string out;
  EXPECT_EQ(Run("script tokens main.txt", &out), 0);
  EXPECT_EQ(out,
            "main.txt:1\t26\t\\n\t\n"
            "main.txt:2\t60\tupdatetype\t\n"
            "main.txt:2\t3\t=\t\n"
            "main.txt:2\t35\t0x10\t16\n"
            "main.txt:2\t11\t,\t\n"
            "main.txt:2\t9\t'x'\t120\n"
            "main.txt:2\t26\t\\n\t\n"
            "inc.txt:1\t28\tfile\t\n"
            "inc.txt:1\t3\t=\t\n"
            "inc.txt:1\t56\t\"A\\\\\\\\B.DKX\"\tA\\\\B.DKX\n"
            "inc.txt:1\t11\t,\t\n"
            "inc.txt:1\t35\t1\t1\n"
            "inc.txt:1\t49\t;\t\n"
            "inc.txt:1\t26\t\\n\t\n"
            "main.txt:4\t20\tdstpath\t\n"
            "main.txt:4\t56\t\"a\\\\tb\"\ta\\tb\n"
            "main.txt:4\t26\t\\n\t\n"
            "main.txt:4\t25\t\t\n");
}

TEST_F(TokensCommandTest, ErrorsEndTheListingWithStatus1) {
  Write("bad.txt", "ok\n\x01 'unclosed\n");
  std::string out;
  EXPECT_NE(Run("script tokens bad.txt", &out), 0);
  EXPECT_EQ(out,
            "bad.txt:1\t31\tok\t\n"
            "bad.txt:1\t26\t\\n\t\n"
            "bad.txt:2\terror\t-210\n");
  Write("missing.txt", "include nowhere.txt\n");
  EXPECT_NE(Run("script tokens missing.txt", &out), 0);
  EXPECT_EQ(out, "missing.txt:1\terror\t-10\n");
}

TEST_F(TokensCommandTest, OtherBytesAreWrittenAsHex) {
  Write("odd.txt", "\x7f\x80#");
  std::string out;
  EXPECT_EQ(Run("script tokens odd.txt", &out), 0);
  // 0x7F is a blank; 0x80 is a character of no kind.
  EXPECT_EQ(
      out, "odd.txt:1\t66\t\\x80\t\nodd.txt:1\t66\t#\t\nodd.txt:1\t26\t\\n\t\nodd.txt:1\t25\t\t\n");
}

TEST_F(TokensCommandTest, HelpListsTheSubcommandAndVersionIsTheProjects) {
  std::string out;
  EXPECT_EQ(Run("script --help", &out), 0);
  EXPECT_NE(out.find("updkit script tokens FILE"), std::string::npos);
  EXPECT_EQ(Run("--help", &out), 0);
  EXPECT_NE(out.find("script"), std::string::npos);
  EXPECT_EQ(Run("--version", &out), 0);
  EXPECT_EQ(out, "updkit " UPD_PROJECT_VERSION "\n");
}

}  // namespace
