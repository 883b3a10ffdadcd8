// Macro statements and their substitution into later lines.
#include "tests/script/ScriptTestKit.h"

namespace {

using script_test::ScriptTest;
using MacroTest = ScriptTest;

TEST_F(MacroTest, DefinedMacroReplacesItsNameInStringsAndArguments) {
  EXPECT_EQ(Lex("macro VER \"1.5\"\nsetserver = \"srv VER\", VER;\n"),
            "NL | 51:setserver | 3:= | 56:\"srv 1.5\"=srv 1.5 | 11:, | 35:1=1 | 40:. | 35:5=5 | "
            "49:; | NL | EOF");
}

TEST_F(MacroTest, StatementFormsAndItsLineYieldsOnlyTheLineEnd) {
  EXPECT_EQ(Lex("macro N = V ; trailing tokens\nmacro \"S\" \"str\"\nN S"),
            "NL | NL | 31:V | 31:str | NL | EOF");
}

TEST_F(MacroTest, ReplacementReachesInsideLongerWords) {
  EXPECT_EQ(Lex("macro A \"z\"\nAbA \"xA\" 'A'"),
            "NL | 31:zbz | 56:\"xz\"=xz | 9:'z'=122 | NL | EOF");
}

TEST_F(MacroTest, ValueEscapesAreResolvedAgainInsideAString) {
  // The script's \\\\ is one backslash in the value; inside the next string
  // it escapes the character after it again.
  EXPECT_EQ(Lex("macro P \"a\\\\\"\n\"Pdx\" \"Pnx\""),
            "NL | 56:\"a\\dx\"=a\\x | 56:\"a\\nx\"=a\nx | NL | EOF");
}

TEST_F(MacroTest, LaterMacrosApplyToInsertedText) {
  EXPECT_EQ(Lex("macro A \"B B\"\nmacro B \"c\"\nA"), "NL | NL | 31:c | 31:c | NL | EOF");
}

TEST_F(MacroTest, RestatingADefinedMacroActsOnItsValue) {
  ExpectReads({
      // The statement line is substituted first: it defines a macro named "v".
      {"macro K \"v\"\nmacro K \"w\"\nK v", "NL | NL | 31:w | 31:w | NL | EOF"},
      // Meant as an undefinition, it defines and removes "v"; K stays defined.
      {"macro K \"v\"\nmacro K K\nK", "NL | NL | 31:v | NL | EOF"},
  });
}

TEST_F(MacroTest, ValueEqualToTheNameUndefines) {
  // The escaped spelling in the statement line does not hold the name, so the
  // line is not substituted before the statement reads it.
  EXPECT_EQ(Lex("macro \"a\\tb\" \"1\"\nx a\tb\nmacro \"a\\tb\" \"a\\tb\"\ny a\tb"),
            "NL | 31:x | 35:1=1 | NL | NL | 31:y | 31:a | 31:b | NL | EOF");
}

TEST_F(MacroTest, IncompleteStatementsAreError6) {
  ExpectReads({
      {"macro\nx", "ERR(-6)"},
      {"macro = ;\nx", "ERR(-6)"},
      {"macro N\nx", "ERR(-6)"},
      {"macro N = 5\nx", "ERR(-6)", 1},
      {"macro N \\", "ERR(-6)"},
  });
}

TEST_F(MacroTest, MacrosOfAnIncludedFileStayDefined) {
  Write("defs.txt", "macro NAME \"value\"\n");
  EXPECT_EQ(Lex("include \"defs.txt\"\nNAME"), "NL | 31:value | NL | EOF");
}

TEST_F(MacroTest, MacrosDoNotOutliveTheScript) {
  ExpectReads({
      {"macro M \"gone\"\n", "NL | EOF"},
      {"M", "31:M | NL | EOF"},
  });
}

TEST_F(MacroTest, ValueHoldingItsOwnNameIsBounded) {
  ExpectReads({
      // At the start of the value the name is searched past: finite.
      {"macro A \"Ax\"\nA A", "NL | 31:Ax | 31:Ax | NL | EOF"},
      // Anywhere else it would be found again in every copy: the line limit ends it.
      {"macro A \"xA\"\nok\nA", "NL | 31:ok | NL | ERR(" + std::to_string(ERR_LINE_TOO_LONG) + ")",
       3},
  });
}

TEST_F(MacroTest, EmptyNameOccursNowhere) {
  EXPECT_EQ(Lex("macro \"\" \"x\"\nab"), "NL | 31:ab | NL | EOF");
}

TEST_F(MacroTest, TokensLongerThanTheirBuffersAreCut) {
  const std::string chunk(1000, 'q');
  std::string out = Lex("macro L \"" + chunk + "\"\n\"LL\" LL");
  const std::string cut(1024, 'q');
  EXPECT_EQ(out,
            "NL | 56:\"" + std::string(1023, 'q') + "=" + cut + " | 31:" + cut + " | NL | EOF");
}

TEST_F(MacroTest, GrowthPastTheLineLimitIsAnError) {
  // Ten characters for each of 900: 9000 > kMaxLineLength.
  EXPECT_EQ(Lex("macro B \"xxxxxxxxxx\"\n" + std::string(900, 'B') + "\n"),
            "NL | ERR(" + std::to_string(ERR_LINE_TOO_LONG) + ")");
  // Within the limit the line is lexed whole.
  EXPECT_EQ(Lex("macro B \"xxxxxxxxxx\"\n" + std::string(800, 'B') + " end\n"),
            "NL | 31:" + std::string(1024, 'x') + " | 31:end | NL | EOF");
}

}  // namespace
