// Runs small scripts through the token reader and writes the token stream
// as one compact text: "code:text=value" per token, " | " between tokens,
// "NL" for a line end, "EOF" for the end of input and "ERR(code)" for an
// error (which ends the stream).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "script/ScriptState.h"
#include "script/TokenReader.h"
#include "tests/support/TestPaths.h"

namespace script_test {

inline std::string TokenEntry(int code) {
  if (code < 0) return "ERR(" + std::to_string(code) + ")";
  if (code == TOK_END_OF_LINE) return "NL";
  if (code == TOK_END_OF_INPUT) return "EOF";
  std::string entry = std::to_string(code) + ":" + TokenText;
  if (code == TOK_NUMBER) entry += "=" + std::to_string(TokenValue.word);
  if (code == TOK_CHARACTER) entry += "=" + std::to_string(static_cast<int32_t>(TokenValue.word));
  if (code == TOK_STRING) entry += "=" + std::string(TokenValue.string);
  return entry;
}

// A scratch folder that is also the current folder while the test runs, so
// that scripts and includes are named as the updater's users name them.
class ScriptTest : public ::testing::Test {
 protected:
  ScriptTest() : previous_(std::filesystem::current_path()) {
    ResetScriptState();
    std::filesystem::current_path(dir_.path());
  }
  ~ScriptTest() override {
    ResetScriptState();
    std::filesystem::current_path(previous_);
  }

  void Write(const std::string& name, const std::string& bytes) {
    testing_support::WriteFileBytes(dir_ / name, bytes);
  }

  // Opens name as the run loop does and reads it to the end or an error.
  std::string Tokens(const std::string& name) {
    int opened = OpenScript(name.c_str());
    if (opened != 0) return "OPEN(" + std::to_string(opened) + ")";
    std::string out;
    for (int guard = 0; guard < 100000; ++guard) {
      int code = ReadToken();
      if (!out.empty()) out += " | ";
      out += TokenEntry(code);
      lastFile_ = SourceCurrentName();
      lastLine_ = SourceCurrentLine();
      lastTokenCode_ = TokenCode;
      if (code < 0 || code == TOK_END_OF_INPUT) break;
    }
    CloseAllSources();
    return out;
  }

  // Writes text as a.txt and reads it.
  std::string Lex(const std::string& text) {
    Write("a.txt", text);
    return Tokens("a.txt");
  }

  // A script, the tokens it reads as, and where its last token (or error)
  // was reported: the line (0: not checked) and TokenCode (-1: not checked).
  struct Reads {
    std::string script;
    std::string tokens;
    int line = 0;
    int lastCode = -1;
  };
  // Reads each script with Lex and checks what it gave.
  void ExpectReads(const std::vector<Reads>& cases) {
    for (const Reads& c : cases) {
      EXPECT_EQ(Lex(c.script), c.tokens) << "script: " << c.script;
      if (c.line != 0) {
        EXPECT_EQ(lastLine_, c.line) << "script: " << c.script;
      }
      if (c.lastCode >= 0) {
        EXPECT_EQ(lastTokenCode_, c.lastCode) << "script: " << c.script;
      }
    }
  }

  testing_support::TempDir dir_;
  std::filesystem::path previous_;
  std::string lastFile_;  // where the last token (or error) was reported
  int lastLine_ = 0;
  int lastTokenCode_ = 0;  // TokenCode after the last token (or error)
};

}  // namespace script_test
