// Script lines as the source input delivers them: line ends, end of input,
// long lines, continuation, odd bytes, and include.
#include "tests/script/ScriptTestKit.h"

namespace {

using script_test::ScriptTest;
using SourceTest = ScriptTest;

TEST_F(SourceTest, EmptyScriptAndMissingScript) {
  EXPECT_EQ(Lex(""), "EOF");
  EXPECT_EQ(Tokens("absent.txt"), "OPEN(-10)");
  EXPECT_STREQ(SourceCurrentName(), "");
}

TEST_F(SourceTest, LineEndsAndEndOfInput) {
  ExpectReads({
      {"a\r\nb\nc", "31:a | NL | 31:b | NL | 31:c | NL | EOF", 3},
      // A carriage return not followed by a line feed is a character of its own.
      {"a\rb\n", "31:a | 66:\r | 31:b | NL | EOF"},
      // 0x1A ends the input wherever it stands.
      {"a b\x1A c\nd\n", "31:a | 31:b | NL | EOF"},
      {"\x1A"
       "a",
       "EOF"},
  });
}

TEST_F(SourceTest, LongLineIsCutAt1023Characters) {
  ExpectReads({
      {std::string(1500, 'x') + "\nnext\n",
       "31:" + std::string(1023, 'x') + " | NL | 31:next | NL | EOF", 2},
      // Exactly 1023 characters and CR LF: nothing is cut.
      {std::string(1022, 'y') + "z\r\nw",
       "31:" + std::string(1022, 'y') + "z | NL | 31:w | NL | EOF"},
      // The rest of a long line is discarded even when it holds a string quote.
      {std::string(1023, ' ') + "\"open\nq", "NL | 31:q | NL | EOF"},
  });
}

TEST_F(SourceTest, NulBytesAfterTheFirstLineReadAsBlanks) {
  EXPECT_EQ(Lex(std::string("x\na\0b \"c\0d\"", 11)),
            "31:x | NL | 31:a | 31:b | 56:\"c d\"=c d | NL | EOF");
}

// A file saved as UTF-16 ("Unicode") would read as one unknown token per
// letter; it is refused at its first line, whether script or included file.
TEST_F(SourceTest, Utf16FilesAreRefused) {
  const std::string refused = "ERR(" + std::to_string(ERR_UTF16_SCRIPT) + ")";
  struct Case {
    std::string bytes;
    std::string tokens;
  } cases[] = {
      {std::string("\xFF\xFEu\0p\0\n\0", 7), refused},
      {std::string("\xFE\xFF\0u\0p\0\n", 7), refused},
      {"\xFF\xFE", refused},
      {std::string("u\0p\0\r\0\n\0", 8), refused},  // no mark, NULs in the first line
      {std::string("\0", 1), refused},
      // A UTF-8 mark is one unknown character and two blanks, skipped as before.
      {"\xEF\xBB\xBFupdatetype", "66:\xEF | 60:updatetype | NL | EOF"},
      {"\xFFx\xFE", "31:x | NL | EOF"},  // FF and FE apart are blanks
      {"\n\xFF\xFE", "NL | NL | EOF"},   // the mark counts only at the start
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Lex(c.bytes), c.tokens);
    if (c.tokens == refused) {
      EXPECT_EQ(lastFile_, "a.txt");
      EXPECT_EQ(lastLine_, 1);
    }
  }
  Write("wide.txt", std::string("\xFF\xFEx\0", 4));
  EXPECT_EQ(Lex("a\ninclude wide.txt\nb\n"), "31:a | NL | " + refused);
  EXPECT_EQ(lastFile_, "wide.txt");
  EXPECT_EQ(lastLine_, 1);
}

TEST_F(SourceTest, ContinuationJoinsLinesWithoutALineEnd) {
  ExpectReads({
      {"a \\\nb\nc", "31:a | 31:b | NL | 31:c | NL | EOF"},
      // A token cannot run across the join.
      {"ab\\\ncd", "31:ab | 31:cd | NL | EOF"},
      // A later error counts both physical lines.
      {"a\\\nb\n\"x", "31:a | 31:b | NL | ERR(-210)", 3},
      // A backslash on the last line joins with nothing.
      {"a\\", "31:a | EOF"},
  });
}

TEST_F(SourceTest, IncludeReadsTheFileInPlaceOfTheRestOfItsLine) {
  Write("sub.txt", "s1\ns2");  // no final line feed
  EXPECT_EQ(Lex("a\ninclude \"sub.txt\" ignored tokens\nb\n"),
            "31:a | NL | 31:s1 | NL | 31:s2 | NL | 31:b | NL | EOF");
  EXPECT_EQ(lastFile_, "a.txt");
  EXPECT_EQ(lastLine_, 3);
}

TEST_F(SourceTest, IncludeNamesBareAngledAndInFolders) {
  std::filesystem::create_directory("inc");
  Write("inc/deep.txt", "deep");
  Write("s.v1.txt", "dotted\n");
  EXPECT_EQ(Lex("include s.v1.txt\ninclude <inc\\deep.txt> x\nend"),
            "31:dotted | NL | 31:deep | NL | 31:end | NL | EOF");
}

TEST_F(SourceTest, NestedIncludesReportTheirOwnNameAndLine) {
  Write("one.txt", "o1\ninclude \"two.txt\"\no3\n");
  Write("two.txt", "t1\nt2 \"open\n");
  EXPECT_EQ(Lex("include \"one.txt\"\nz"), "31:o1 | NL | 31:t1 | NL | 31:t2 | ERR(-210)");
  EXPECT_EQ(lastFile_, "two.txt");
  EXPECT_EQ(lastLine_, 2);
  EXPECT_EQ(SourceDepth(), 0);  // Tokens closed every source
  Write("two.txt", "t1\n");
  EXPECT_EQ(Lex("include \"one.txt\"\nz"),
            "31:o1 | NL | 31:t1 | NL | 31:o3 | NL | 31:z | NL | EOF");
}

TEST_F(SourceTest, MissingIncludeIsError10AtTheIncludeLine) {
  EXPECT_EQ(Lex("a\n\ninclude \"gone.txt\"\n"), "31:a | NL | NL | ERR(-10)");
  EXPECT_EQ(lastFile_, "a.txt");
  EXPECT_EQ(lastLine_, 3);
}

TEST_F(SourceTest, IncludeWithoutANameReturnsTheLastTokenRead) {
  ExpectReads({
      {"include\nx", "33:include | NL | 31:x | NL | EOF"},
      {"include ;\nx", "49:; | NL | 31:x | NL | EOF"},
  });
}

TEST_F(SourceTest, BracketedIncludeCannotBeResolvedAndFailsAsAnOpen) {
  Write("x.txt", "x");
  EXPECT_EQ(Lex("include [DATA] x.txt"), "ERR(-10)");
}

TEST_F(SourceTest, IncludeChainsAreLimitedInDepth) {
  EXPECT_EQ(Lex("include \"a.txt\"\n"), "ERR(" + std::to_string(ERR_INCLUDE_TOO_DEEP) + ")");
  // A chain just within the limit reads to its end.
  for (int i = 1; i < kMaxSourceDepth; ++i)
    Write("n" + std::to_string(i) + ".txt", "include n" + std::to_string(i + 1) + ".txt\n");
  Write("n" + std::to_string(kMaxSourceDepth) + ".txt", "last");
  EXPECT_EQ(Tokens("n1.txt"), "31:last | NL | EOF");
  Write("n" + std::to_string(kMaxSourceDepth) + ".txt", "include gone.txt");
  EXPECT_EQ(Tokens("n1.txt"), "ERR(" + std::to_string(ERR_INCLUDE_TOO_DEEP) + ")");
}

TEST_F(SourceTest, OverlongIncludeNameIsRefusedAsAnOpenFailure) {
  ExpectReads({
      {"include \"" + std::string(300, 'n') + "\"", "ERR(-10)"},
      {"include " + std::string(300, 'n'), "ERR(-10)"},
  });
}

}  // namespace
