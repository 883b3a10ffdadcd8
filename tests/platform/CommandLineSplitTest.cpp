#include "platform/CommandLineSplit.h"

#include <gtest/gtest.h>

namespace {

using Words = std::vector<std::string>;

TEST(CommandLine, ProgramPathThenArgumentsWithQuotes) {
  EXPECT_EQ(plat::SplitCommandLine("C:\\Game\\game.exe -quick"),
            (Words{"C:\\Game\\game.exe", "-quick"}));
  EXPECT_EQ(plat::SplitCommandLine("  \"C:\\Program Files\\Game\\game.exe\"\t-a  \"b c\" "),
            (Words{"C:\\Program Files\\Game\\game.exe", "-a", "b c"}));
  EXPECT_EQ(plat::SplitCommandLine("run \"say \"\"hi\"\"\" x\"y z\""),
            (Words{"run", "say \"hi\"", "xy z"}));
  EXPECT_EQ(plat::SplitCommandLine("\"unclosed path"), (Words{"unclosed path"}));
  // Backslashes escape only a quote, and only in the arguments.
  EXPECT_EQ(plat::SplitCommandLine(R"(g.exe a\"b C:\dir\ "x y\\" "q\\\"r" \\\\"s t")"),
            (Words{"g.exe", "a\"b", "C:\\dir\\", "x y\\", "q\\\"r", "\\\\s t"}));
  EXPECT_EQ(plat::SplitCommandLine(R"("C:\Games\" x)"), (Words{"C:\\Games\\", "x"}));
  EXPECT_TRUE(plat::SplitCommandLine("   ").empty());
  EXPECT_TRUE(plat::SplitCommandLine(nullptr).empty());
}

}  // namespace
