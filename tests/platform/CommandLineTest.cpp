#include "platform/cmdline.h"

#include <gtest/gtest.h>

namespace {

using Words = std::vector<std::string>;

TEST(CommandLine, ProgramPathThenArgumentsWithQuotes) {
  EXPECT_EQ(plat::SplitCommandLine("C:\\Game\\game.exe -quick"), (Words{"C:\\Game\\game.exe", "-quick"}));
  EXPECT_EQ(plat::SplitCommandLine("  \"C:\\Program Files\\Game\\game.exe\"\t-a  \"b c\" "),
            (Words{"C:\\Program Files\\Game\\game.exe", "-a", "b c"}));
  EXPECT_EQ(plat::SplitCommandLine("run \"say \"\"hi\"\"\" x\"y z\""), (Words{"run", "say \"hi\"", "xy z"}));
  EXPECT_EQ(plat::SplitCommandLine("\"unclosed path"), (Words{"unclosed path"}));
  EXPECT_TRUE(plat::SplitCommandLine("   ").empty());
  EXPECT_TRUE(plat::SplitCommandLine(nullptr).empty());
}

}  // namespace
