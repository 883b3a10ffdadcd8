// The update directives, fed token by token from small scripts.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "app/Directives.h"
#include "app/FormatVersion.h"
#include "script/Lexer.h"

namespace {

struct Call {
  std::string source, dest;
  int operation;
};

struct Host : DirectiveHost {
  struct Shown {
    bool script;  // ReportScriptError (else ReportError)
    int message;
    std::string text;
  };
  std::vector<Shown> shown;
  std::vector<Call> files;
  int fileResult = 0;
  void ScriptError(int message, int, const char* extra) override {
    shown.push_back({true, message, extra});
  }
  void Error(int message, const char* text) override { shown.push_back({false, message, text}); }
  int RunFile(const char* sourceName, const char* destPath, int operation) override {
    files.push_back({sourceName, destPath, operation});
    return fileResult;
  }
};

struct Tok {
  int code;
  std::string text;
  uint32_t number;
  std::string string;
};

// The code of a keyword or a one-character operator in the updater's own
// lexer tables; TOK_IDENTIFIER or TOK_OTHER when it is none.
int KeywordCode(const std::string& word) {
  const LexDescriptor& d = UpdaterDescriptor();
  for (int i = 0; i < d.keywordCount; ++i) {
    if (word == d.keywords[i].spelling) return d.keywords[i].code;
  }
  return TOK_IDENTIFIER;
}
int OperatorCode(char c) {
  for (const LexOperator* op = UpdaterDescriptor().operators1; op->text[0] != '\0'; ++op) {
    if (op->text[0] == c && op->text[1] == '\0') return op->code;
  }
  return TOK_OTHER;
}

// A small tokenizer with the script's token kinds: enough for these tests.
std::vector<Tok> Tokenize(const std::string& s) {
  std::vector<Tok> out;
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c == ' ') {
      ++i;
    } else if (c == '\n') {
      out.push_back({TOK_END_OF_LINE, "\n", 0, ""});
      ++i;
    } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      size_t j = i;
      while (j < s.size() && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_')) ++j;
      std::string w = s.substr(i, j - i);
      out.push_back({KeywordCode(w), w, 0, ""});
      i = j;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      size_t j = i;
      while (j < s.size() && std::isalnum(static_cast<unsigned char>(s[j]))) ++j;
      std::string w = s.substr(i, j - i);
      out.push_back({TOK_NUMBER, w, static_cast<uint32_t>(std::stoul(w, nullptr, 0)), ""});
      i = j;
    } else if (c == '"') {
      size_t j = i + 1;
      std::string value;
      while (s[j] != '"') {
        if (s[j] == '\\') ++j;  // a doubled backslash gives one
        value += s[j++];
      }
      out.push_back({TOK_STRING, s.substr(i, j + 1 - i), 0, value});
      i = j + 1;
    } else {
      out.push_back({OperatorCode(c), std::string(1, c), 0, ""});
      ++i;
    }
  }
  return out;
}

cGameSettings Installed(uint32_t version, uint32_t type = 0xD0DD0001) {
  cGameSettings s;
  std::strcpy(s.MainPath, "C:\\Games\\X\\");
  std::strcpy(s.DataPath, "C:\\Games\\X\\Data\\");
  std::strcpy(s.SoundPath, "D:\\Sound\\");
  std::strcpy(s.VideoPath, "D:\\Video\\");
  std::strcpy(s.MusicPath, "D:\\Music\\");
  s.Version = version;
  s.Type = type;
  return s;
}

uint32_t Word(uint32_t v, uint32_t b, uint32_t p) { return (v << 24) | (b << 16) | p; }

struct Script {
  cGameSettings settings;
  Host host;
  DirectiveMachine machine;
  bool failed = false;
  explicit Script(const std::string& script, uint32_t version = Word(1, 2, 5),
                  uint32_t type = 0xD0DD0001, int fileResult = 0)
      : settings(Installed(version, type)), machine(settings, host) {
    host.fileResult = fileResult;
    for (const Tok& t : Tokenize(script)) {
      DirectiveToken token{t.code, t.text.c_str(), t.number, t.string.c_str()};
      if (machine.Feed(token) == DirectiveResult::Failed) {
        failed = true;
        return;
      }
    }
  }
  // The one message shown, as "S<n>:<text>" (script error) or "E<n>:<text>".
  std::string Message() const {
    if (host.shown.size() != 1) return "shown " + std::to_string(host.shown.size());
    const Host::Shown& m = host.shown[0];
    return (m.script ? "S" : "E") + std::to_string(m.message) + ":" + m.text;
  }
  uint32_t NewVersion() {
    cGameSettings out = settings;
    machine.WriteBack(out);
    return out.Version;
  }
};

TEST(FormatVersion, BlankOnEachSideAndThreeDigits) {
  EXPECT_STREQ(" 1.002.003 ", FormatVersion(1, 2, 3));
  EXPECT_STREQ(" 255.255.65535 ", FormatVersion(255, 255, 65535));
}

TEST(Directives, UpdateTypeMustComeFirst) {
  for (const char* first :
       {"version = 1", "build = 0, 9", "dstpath = \"A\";", "insttypes = 1", "file = \"A\", 0",
        "setversion = 2", "setbuild = 3", "setvertype = 4", "setserver = \"s\""}) {
    Script r(std::string(first) + "\n");
    EXPECT_TRUE(r.failed) << first;
    EXPECT_EQ("S30:", r.Message()) << first;
  }
  Script other("while x 5 \"s\" ; + \n updatetype = 0\n");  // every other token is skipped
  EXPECT_FALSE(other.failed);
}

TEST(Directives, UpdateTypeArguments) {
  EXPECT_EQ("S10:<updatetype>", Script("updatetype = 3\n").Message());
  EXPECT_EQ("S9:;", Script("updatetype = 2;\n").Message());
  EXPECT_EQ("S9:5", Script("updatetype 5\n").Message());  // a number where "=" belongs
  EXPECT_EQ("S12:", Script("updatetype = = 1\n").Message());
  EXPECT_FALSE(Script("updatetype = 2, 2\nfile = \"A\", 0\n").failed);
  EXPECT_EQ("E25: 1.002.005 ", Script("updatetype = 2, 3\n").Message());
  EXPECT_EQ("S9:\n",
            Script("updatetype = 2,\n 2\n").Message());  // a directive ends within its line
}

TEST(Directives, VersionAndBuildRanges) {
  EXPECT_EQ("E25: 1.002.005 ", Script("updatetype = 0\nversion = 2\n").Message());
  EXPECT_FALSE(Script("updatetype = 0\nversion = 1\n").failed);
  EXPECT_FALSE(Script("updatetype = 0\nversion = 0xFFFFFFFF\n").failed);  // -1 tests nothing
  EXPECT_EQ("S9:-", Script("updatetype = 0\nversion = -1\n").Message());
  EXPECT_EQ("S10:<build>", Script("updatetype = 1\nbuild = 5, 3\n").Message());
  EXPECT_FALSE(Script("updatetype = 1\nbuild = 2, 2\n").failed);
  EXPECT_EQ("E25: 1.002.005 ", Script("updatetype = 1\nbuild = 3, 3\n").Message());
  // Type 2 tests the patch number, and the required build.
  EXPECT_FALSE(Script("updatetype = 2, 2\nbuild = 5, 5\n").failed);
  EXPECT_EQ("E25: 1.002.005 ", Script("updatetype = 2, 2\nbuild = 6, 9\n").Message());
  EXPECT_FALSE(Script("updatetype = 0\nbuild = 7, 9\n").failed);  // type 0 tests nothing
}

TEST(Directives, VersionCheckAtTheFirstFile) {
  for (uint32_t build : {0u, 255u}) {
    Script r("updatetype = 1\nfile = \"A\", 0\n", Word(1, build, 0));
    EXPECT_FALSE(r.failed) << build;
    EXPECT_EQ(1u, r.host.files.size());
  }
  Script narrow("updatetype = 1\nbuild = 0, 3\n", Word(1, 2, 0));
  EXPECT_FALSE(narrow.failed);
  Script late("updatetype = 2\n", Word(1, 2, 5));
  EXPECT_EQ("S9:\n", late.Message());  // type 2 requires its second number
  Script patch("updatetype = 2, 2\nfile = \"A\", 0\n", Word(1, 2, 300));
  EXPECT_EQ("E25: 1.002.300 ", patch.Message());  // patch 300 is outside the default 0..255
  EXPECT_TRUE(patch.host.files.empty());
}

TEST(Directives, SetBuildBounds) {
  EXPECT_FALSE(Script("updatetype = 1\nsetbuild = 2\n").failed);
  EXPECT_EQ("E25: 1.002.005 ", Script("updatetype = 1\nsetbuild = 1\n").Message());
  EXPECT_FALSE(Script("updatetype = 2, 2\nsetbuild = 5\n").failed);
  EXPECT_EQ("E25: 1.002.005 ", Script("updatetype = 2, 2\nsetbuild = 4\n").Message());
  EXPECT_FALSE(Script("updatetype = 1\nsetbuild = 0xFFFFFFFF\n").failed);
}

TEST(Directives, WriteBack) {
  EXPECT_EQ(Word(1, 3, 0), Script("updatetype = 1\nsetbuild = 3\n").NewVersion());
  EXPECT_EQ(Word(1, 2, 9), Script("updatetype = 2, 2\nsetbuild = 9\n").NewVersion());
  EXPECT_EQ(Word(1, 2, 5), Script("updatetype = 0\nsetbuild = 9\n").NewVersion());
  EXPECT_EQ(Word(7, 2, 5), Script("updatetype = 0\nsetversion = 7\n").NewVersion());
  EXPECT_EQ(Word(7, 3, 0),
            Script("updatetype = 1\nsetversion = 0x107\nsetbuild = 3\n").NewVersion());
  EXPECT_EQ(Word(1, 2, 5), Script("updatetype = 1\nsetbuild = 0xFFFFFFFF\n").NewVersion());

  Script types(
      "updatetype = 0\nsetvertype = 0x1DDD1\nsetserver = \"" + std::string(70, 's') + "\"\n",
      Word(1, 2, 5), 0xD0DD0003);
  cGameSettings out = types.settings;
  std::strcpy(out.Server, "old server");
  types.machine.WriteBack(out);
  EXPECT_EQ(0xDDD10003u, out.Type);
  EXPECT_EQ(std::string(63, 's'), out.Server);
  EXPECT_EQ('\0', out.Server[63]);

  Script none("updatetype = 1\n");  // nothing set: nothing changes
  cGameSettings same = none.settings;
  std::strcpy(same.Server, "kept");
  none.machine.WriteBack(same);
  EXPECT_EQ(Word(1, 2, 5), same.Version);
  EXPECT_EQ(0xD0DD0001u, same.Type);
  EXPECT_STREQ("kept", same.Server);
}

TEST(Directives, OnlyDstpathInsttypesAndFileAfterTheFirstFile) {
  Script r(
      "updatetype = 1\nsetversion = 2\nfile = \"A\", 0\n"
      "setversion = 9\nsetbuild = 0\nversion = 7\nupdatetype = 3\nbuild = 9, 1\n"
      "dstpath = \"D:\\\\New\\\\\";\ninsttypes = 2\nfile = \"B\", 0\ninsttypes = 1\nfile = \"C\", "
      "1\n");
  EXPECT_FALSE(r.failed) << r.Message();
  ASSERT_EQ(2u, r.host.files.size());
  EXPECT_EQ("A", r.host.files[0].source);
  EXPECT_EQ("", r.host.files[0].dest);
  EXPECT_EQ("C", r.host.files[1].source);
  EXPECT_EQ("D:\\New\\", r.host.files[1].dest);
  EXPECT_EQ(1, r.host.files[1].operation);
  EXPECT_EQ(Word(2, 2, 5), r.NewVersion());
}

TEST(Directives, InstallationTypeMask) {
  EXPECT_TRUE(Script("updatetype = 0\ninsttypes = 0\nfile = \"A\", 0\n").host.files.empty());
  EXPECT_EQ(
      1u, Script("updatetype = 0\nfile = \"A\", 0\n", Word(1, 2, 5), 0xD0DD0080).host.files.size());
  EXPECT_TRUE(
      Script("updatetype = 0\nfile = \"A\", 0\n", Word(1, 2, 5), 0xD0DD0100).host.files.empty());
}

TEST(Directives, DstpathParts) {
  Script main("updatetype = 0\ndstpath = __MAIN + \"DATA\\\\\";\nfile = \"A\", 0\n");
  ASSERT_EQ(1u, main.host.files.size());
  EXPECT_EQ("C:\\Games\\X\\DATA\\", main.host.files[0].dest);

  EXPECT_EQ("S9:\"DATA\\\\\"",
            Script("updatetype = 0\ndstpath = __MAIN \"DATA\\\\\";\n").Message());
  EXPECT_EQ("S9:\n", Script("updatetype = 0\ndstpath = \"A\"\n;\n").Message());
  EXPECT_EQ("S9:+", Script("updatetype = 0\ndstpath = + \"A\";\n").Message());

  Script kept("updatetype = 0\ndstpath = \"K\\\\\";\ndstpath = ;\ndstpath ;\nfile = \"A\", 0\n");
  ASSERT_EQ(1u, kept.host.files.size()) << kept.Message();
  EXPECT_EQ("K\\", kept.host.files[0].dest);

  const std::pair<const char*, const char*> keywords[] = {
      {"__DATA", "C:\\Games\\X\\Data\\"},
      {"__SOUND", "D:\\Sound\\"},
      {"__VIDEO", "D:\\Video\\"},
      {"__MUSIC", "D:\\Music\\"},
      {"__CUSTOM", "C:\\Games\\X\\CUSTOM\\"},
      {"__MISSIONS", "C:\\Games\\X\\MISSIONS\\"},
      {"__SAVE", "C:\\Games\\X\\SAVEGAME\\"},
      {"__SYSTEM", "C:\\Games\\X\\SYSTEM\\"},
      {"__EDITOR", "C:\\Games\\X\\EDITOR\\"},
      {"__AIEXAMPLES", "C:\\Games\\X\\EDITOR\\Battles\\"}};
  for (const auto& k : keywords) {
    Script r(std::string("updatetype = 0\ndstpath = ") + k.first + ";\nfile = \"A\", 0\n");
    ASSERT_EQ(1u, r.host.files.size()) << k.first;
    EXPECT_EQ(k.second, r.host.files[0].dest) << k.first;
  }
  // A keyword after a string is appended like a string; the separator goes
  // between what the path holds and the folder name.
  Script mixed("updatetype = 0\ndstpath = \"X\" + __SAVE;\nfile = \"A\", 0\n");
  ASSERT_EQ(1u, mixed.host.files.size());
  EXPECT_EQ("XC:\\Games\\X\\SAVEGAME\\", mixed.host.files[0].dest);
}

TEST(Directives, FileDirective) {
  EXPECT_EQ("S9:\n", Script("updatetype = 0\nfile = \"A\",\n 0\n").Message());
  EXPECT_EQ("S9:0", Script("updatetype = 0\nfile = 0\n").Message());
  Script failing("updatetype = 0\nfile = \"A\", 0\nfile = \"B\", 0\n", Word(1, 2, 5), 0xD0DD0001,
                 -1);
  EXPECT_TRUE(failing.failed);
  EXPECT_TRUE(failing.host.shown.empty());  // the operation showed its own message
  EXPECT_EQ(1u, failing.host.files.size());
  Script op("updatetype = 0\nfile = \"SUB\\\\B.PQ\", 0xFFFFFFFF\n");
  ASSERT_EQ(1u, op.host.files.size());
  EXPECT_EQ("SUB\\B.PQ", op.host.files[0].source);
  EXPECT_EQ(-1, op.host.files[0].operation);
}

TEST(Directives, OverlongTextsAreRefusedWithErrorP) {
  const std::string part(200, 'p');
  Script r("updatetype = 0\ndstpath = \"" + part + "\" + \"" + part + "\";\n");
  EXPECT_TRUE(r.failed);
  ASSERT_EQ(1u, r.host.shown.size());
  EXPECT_EQ(9, r.host.shown[0].message);
  EXPECT_EQ("\"" + part + "\"", r.host.shown[0].text);
  EXPECT_TRUE(Script("updatetype = 0\nfile = \"" + std::string(260, 'f') + "\", 0\n").failed);
  EXPECT_FALSE(Script("updatetype = 0\nfile = \"" + std::string(259, 'f') + "\", 0\n").failed);
  EXPECT_TRUE(Script("updatetype = 0\nsetserver = \"" + std::string(260, 's') + "\"\n").failed);
}

}  // namespace
