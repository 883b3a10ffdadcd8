// The lexer's rules: keywords, operators, comments, numbers, quoted
// constants, case modes and push-back.
#include <cstring>

#include "ourlib/src/ErrFrame.h"

#include "tests/script/ScriptTestKit.h"

namespace {

using script_test::ScriptTest;
using LexerTest = ScriptTest;

TEST_F(LexerTest, KeywordTableIsSortedAndEveryKeywordLexesToItsCode) {
  const LexDescriptor& d = UpdaterDescriptor();
  ASSERT_EQ(d.keywordCount, 35);
  std::string script;
  std::string expected;
  for (int i = 0; i < d.keywordCount; ++i) {
    if (i > 0) {
      EXPECT_LT(std::strcmp(d.keywords[i - 1].spelling, d.keywords[i].spelling), 0);
    }
    script += std::string(d.keywords[i].spelling) + "\n";
    expected += std::to_string(d.keywords[i].code) + ":" + d.keywords[i].spelling + " | NL | ";
  }
  // Read with the lexer alone: the token reader would act on `macro`.
  Write("a.txt", script);
  ASSERT_EQ(OpenScript("a.txt"), 0);
  std::string out;
  for (int code = 0; code >= 0 && code != TOK_END_OF_INPUT;) {
    code = NextToken();
    out += script_test::TokenEntry(code) + (code == TOK_END_OF_INPUT ? "" : " | ");
  }
  EXPECT_EQ(out, expected + "EOF");
}

TEST_F(LexerTest, KeywordsAreCaseSensitiveInTheUpdatersConfiguration) {
  EXPECT_EQ(Lex("Version version __VIDEO __Video macrox _x9"),
            "31:Version | 63:version | 64:__VIDEO | 31:__Video | 31:macrox | 31:_x9 | NL | EOF");
}

TEST_F(LexerTest, OperatorsAndOtherCharacters) {
  ExpectReads({
      {"( ) * + , - . / : ; = [ \\ ] { } < # ! ~",
       "37:( | 47:) | 42:* | 1:+ | 11:, | 57:- | 40:. | 18:/ | 10:: | 49:; | 3:= | 36:[ | 27:\\ | "
       "44:] | "
       "4:{ | 23:} | 66:< | 66:# | 66:! | 66:~ | NL | EOF"},
      // Single-only operators never join: "=-" is two tokens, "-5" is "-" and 5.
      {"=-5", "3:= | 57:- | 35:5=5 | NL | EOF"},
  });
}

TEST_F(LexerTest, CommentsAreConsumed) {
  ExpectReads({
      {"a//b\nc", "31:a | NL | 31:c | NL | EOF"},
      {"a/*x*/b", "31:a | 31:b | NL | EOF"},
      // The first closer ends the comment; a closer outside any comment is dropped.
      {"/* /* */ x */ y", "31:x | 31:y | NL | EOF"},
      {"a /* one\ntwo\nthree */ b\nc", "31:a | NL | NL | 31:b | NL | 31:c | NL | EOF"},
      {"x /**/ **/ y", "31:x | 42:* | 31:y | NL | EOF"},
  });
}

TEST_F(LexerTest, BlockCommentOpenAtTheEndOfTheScriptEndsTheInput) {
  EXPECT_EQ(Lex("a /* never closed\nstill comment"), "31:a | NL | NL | EOF");
}

TEST_F(LexerTest, Numbers) {
  ExpectReads({
      {"0x 1A 0xFF 0XfF 0b101 0B1 017 4294967295",
       "35:0x 1A=26 | 35:0xFF=255 | 35:0XfF=255 | 35:0b101=5 | 35:0B1=1 | 35:017=17 | "
       "35:4294967295=4294967295 | NL | EOF"},
      {"12ab 0b102", "35:12=12 | 31:ab | 35:0b10=2 | 35:2=2 | NL | EOF"},
  });
}

TEST_F(LexerTest, PrefixWithoutDigitsIsAnOtherCharacterToken) {
  ExpectReads({
      {"0x G", "66:0x | 31:G | NL | EOF"},
      {"0b", "66:0b | NL | EOF"},
      {"0x;", "66:0x | 49:; | NL | EOF"},
  });
}

TEST_F(LexerTest, StringsResolveEscapes) {
  ExpectReads({
      {"\"a\\\\b\"", "56:\"a\\\\b\"=a\\b | NL | EOF"},
      {"\"q\\\"q\" \"\\d\" \"\"", "56:\"q\\\"q\"=q\"q | 56:\"\\d\"=\\ | 56:\"\"= | NL | EOF"},
      {"\"\\t\\n\\r\\f\"", "56:\"\\t\\n\\r\\f\"=\t\n\r\f | NL | EOF"},
      {"\"a'b\" \"x/*y\"", "56:\"a'b\"=a'b | 56:\"x/*y\"=x/*y | NL | EOF"},
  });
}

TEST_F(LexerTest, CharacterConstants) {
  ExpectReads({
      {"'ab' '' '\\'' '\\n'", "9:'ab'=97 | 9:''=0 | 9:'\\''=39 | 9:'\\n'=10 | NL | EOF"},
      // The first character is sign-extended from 8 bits.
      {"'\xE9'", "9:'\xE9'=-23 | NL | EOF"},
  });
}

// Both errors of the lexer leave the code of the token that failed.
TEST_F(LexerTest, NumberOverflowIsError60AndAnUnclosedConstantError210) {
  ExpectReads({
      {"4294967296", "ERR(-60)", 1, TOK_OVERFLOW},
      {"0x100000000", "ERR(-60)", 1, TOK_OVERFLOW},
      {"x 99999999999999999999999999", "31:x | ERR(-60)", 1, TOK_OVERFLOW},
      {"x \"abc\ny", "31:x | ERR(-210)", 1, TOK_STRING},
      {"'a", "ERR(-210)", 1, TOK_CHARACTER},
      {"\"ends in an escape\\\\", "ERR(-210)", 1, TOK_STRING},
  });
}

TEST_F(LexerTest, CaseModesAndLineEndTokensOff) {
  Write("a.txt", "Version VERSION\nx");
  ASSERT_EQ(OpenScript("a.txt"), 0);
  SetKeepCase(0);
  EXPECT_EQ(SetKeywordCase(0), 1);
  EXPECT_EQ(SetLineEndTokens(2) & LEX_LINE_END_TOKENS, 0);  // 2 toggles the bit off
  std::string out;
  for (int code = 0; code != TOK_END_OF_INPUT && code >= 0;) {
    code = NextToken();
    out += script_test::TokenEntry(code) + " ";
  }
  EXPECT_EQ(out, "63:VERSION 63:VERSION 31:X EOF ");
  EXPECT_EQ(SetLineEndTokens(1) & LEX_LINE_END_TOKENS, LEX_LINE_END_TOKENS);
  EXPECT_EQ(SetKeepCase(0x101) & LEX_KEEP_CASE, LEX_KEEP_CASE);  // only the low 8 bits count
}

TEST_F(LexerTest, PushedBackTokenIsReturnedOnce) {
  Write("a.txt", "a b");
  ASSERT_EQ(OpenScript("a.txt"), 0);
  EXPECT_EQ(NextToken(), TOK_IDENTIFIER);
  UngetToken(TOK_SEMICOLON);
  EXPECT_EQ(NextToken(), TOK_SEMICOLON);
  EXPECT_STREQ(TokenText, "a");  // text and value are left as they were
  EXPECT_EQ(NextToken(), TOK_IDENTIFIER);
  EXPECT_STREQ(TokenText, "b");
}

TEST_F(LexerTest, AskingPastTheEndGives14) {
  Write("a.txt", "");
  ASSERT_EQ(OpenScript("a.txt"), 0);
  EXPECT_EQ(ReadToken(), TOK_END_OF_INPUT);
  EXPECT_EQ(ReadToken(), ERR_PAST_END);
}

}  // namespace

namespace {

using ModesTest = script_test::ScriptTest;

// Reads the rest of the open script with the lexer alone.
std::string RawTokens() {
  std::string out;
  for (int code = 0; code >= 0 && code != TOK_END_OF_INPUT;) {
    code = NextToken();
    out += script_test::TokenEntry(code) + " ";
  }
  return out;
}

TEST_F(ModesTest, CommentTokensReturnDelimitersAndBodies) {
  Write("a.txt", "a /*b*/ //c\n/* x\ny */");
  ASSERT_EQ(OpenScript("a.txt"), 0);
  SetCommentTokens(1);
  EXPECT_EQ(RawTokens(), "31:a 5:/* 12:b 24:*/ 13:// 12:c NL 5:/* 12: x NL 12:y  24:*/ NL EOF ");
}

TEST_F(ModesTest, SkippedStatementsHaveNoEffect) {
  Write("a.txt", "macro A \"b\"\nA\ninclude \"absent.txt\" q\nz");
  ASSERT_EQ(OpenScript("a.txt"), 0);
  LexFlags |= LEX_SKIP_STATEMENTS;
  std::string out;
  for (int code = 0; code >= 0 && code != TOK_END_OF_INPUT;) {
    code = ReadToken();
    out += script_test::TokenEntry(code) + " ";
  }
  EXPECT_EQ(out, "NL 31:A NL NL 31:z NL EOF ");
}

}  // namespace
