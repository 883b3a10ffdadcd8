// The .reg text format: what a person or regedit writes is read back with
// every byte and length, and a damaged file is refused, never half-read.
#include <gtest/gtest.h>

#include <string>

#include "platform/CodePage.h"
#include "platform/RegFile.h"

namespace {

using plat::RegValue;
namespace rf = plat::regfile;

std::vector<uint8_t> Bytes(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

// UTF-16LE after its byte-order mark, as regedit exports.
std::string Utf16(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  for (char16_t c : plat::Utf8ToWide(utf8)) out += std::string{char(c & 0xFF), char(c >> 8)};
  return out;
}

std::string FromUtf16(const std::string& bytes) {
  std::u16string wide;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    wide += static_cast<char16_t>(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8));
  }
  return plat::WideToUtf8(wide);
}

// What regedit exports, read the same from UTF-16 (as regedit writes it),
// UTF-8 with and without its mark: a Unicode registry's texts and text hex
// values (UTF-16LE) as the ANSI calls see them, in code page 1252.
TEST(RegFile, ReadsWhatRegeditWrites) {
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; a comment\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnholt\\Marovex\\Version]\r\n"
      "\"Server\"=\"eu \\\"one\\\" \\\\ two\"\r\n"
      "\"Version\"=dword:0102000a\r\n"
      "\"Raw\"=hex:01,02,\\\r\n"
      "  ff\r\n"
      "\"Field\"=hex(1):41,00,e9,00,00,00,00,00\r\n"
      "\"LastPlayer\"=\"Zo\xC3\xAB\"\r\n"
      "@=\"default\"\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnholt\\Marovex\\Directories]\r\n"
      "\"MainPath\"=\"C:\\\\Games\\\\MX\\\\\"\r\n";
  for (const std::string& bytes : {text, Utf16(text), "\xEF\xBB\xBF" + text}) {
    rf::Document doc;
    ASSERT_EQ(rf::Parse(bytes, &doc), 0);
    ASSERT_EQ(doc.keys.size(), 2u);
    rf::Key* version = rf::FindKey(&doc, "software\\varnholt\\marovex\\VERSION");
    ASSERT_NE(version, nullptr);
    ASSERT_EQ(version->values.size(), 6u);
    RegValue* server = rf::FindValue(version, "SERVER");
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->type, plat::kRegSz);
    EXPECT_EQ(server->data, Bytes(std::string("eu \"one\" \\ two") + '\0'));
    EXPECT_EQ(rf::FindValue(version, "Version")->data,
              (std::vector<uint8_t>{0x0a, 0x00, 0x02, 0x01}));
    EXPECT_EQ(rf::FindValue(version, "Version")->type, plat::kRegDword);
    EXPECT_EQ(rf::FindValue(version, "Raw")->data, (std::vector<uint8_t>{1, 2, 0xff}));
    EXPECT_EQ(rf::FindValue(version, "Raw")->type, plat::kRegBinary);
    EXPECT_EQ(rf::FindValue(version, "Field")->data, Bytes(std::string("A\xE9\0\0", 4)));
    EXPECT_EQ(rf::FindValue(version, "Field")->type, plat::kRegSz);
    EXPECT_EQ(rf::FindValue(version, "LastPlayer")->data, Bytes(std::string("Zo\xEB\0", 4)));
    EXPECT_EQ(rf::FindValue(version, "")->data, Bytes(std::string("default") + '\0'));
    rf::Key* dirs = rf::FindKey(&doc, "SOFTWARE\\Varnholt\\Marovex\\Directories");
    EXPECT_EQ(rf::FindValue(dirs, "MainPath")->data, Bytes(std::string("C:\\Games\\MX\\") + '\0'));
    EXPECT_TRUE(rf::KeyExists(doc, "SOFTWARE\\Varnholt"));
    EXPECT_FALSE(rf::KeyExists(doc, "SOFTWARE\\Varn"));

    // Written back in its own encoding, first line and line ends; a value
    // that did not change is written as it was.
    rf::SetValue(version, RegValue{"Field", plat::kRegSz, Bytes(std::string("\xE9t\xE9\0\0", 5))});
    const std::string back = rf::Serialize(doc);
    EXPECT_EQ(back.compare(0, 2, bytes.substr(0, 2)), 0);
    rf::Document again;
    ASSERT_EQ(rf::Parse(back, &again), 0);
    EXPECT_EQ(again.encoding, doc.encoding);
    rf::Key* changed = rf::FindKey(&again, "SOFTWARE\\Varnholt\\Marovex\\Version");
    ASSERT_NE(changed, nullptr);
    EXPECT_EQ(rf::FindValue(changed, "Field")->data, Bytes(std::string("\xE9t\xE9\0\0", 5)));
    const std::string utf8 = doc.encoding == rf::Encoding::Utf16Le ? FromUtf16(back) : back;
    EXPECT_NE(utf8.find("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE"),
              std::string::npos);
    EXPECT_NE(utf8.find("\"LastPlayer\"=\"Zo\xC3\xAB\"\r\n"), std::string::npos);
    EXPECT_NE(utf8.find("\"Field\"=hex(1):e9,00,74,00,e9,00,00,00,00,00\r\n"), std::string::npos);
  }
}

// A Wine prefix's system.reg: sections relative to HKEY_LOCAL_MACHINE with
// their times, Wine's escapes and text types; a changed section gets a new
// time, everything else is written back as it was, a character the code
// page lacks included.
TEST(RegFile, ReadsAndWritesWinesRegistry) {
  const std::string head =
      "WINE REGISTRY Version 2\n"
      ";; All keys relative to REGISTRY\\\\Machine\n"
      "\n"
      "#arch=win64\n";
  const std::string other =
      "[Software\\\\Other\\\\\\[x\\]] 1700000001\n"
      "#time=1d9c0a5b2e4f001\n"
      "#class=\"c\"\n"
      "\"Kanji\"=\"\\x8868\"\n";
  const std::string text = head +
                           "\n[Software\\\\Varnholt\\\\Marovex\\\\Version] 1700000000\n"
                           "#time=1d9c0a5b2e4f000\n"
                           "\"Folder\"=\"C:\\\\Games\\\\\\xe9t\\xe9\\\\\\0\\0\"\n"
                           "\"Tab\\t\"=\"a\\tb\\1c\\033\"\n"
                           "\"Path\"=str(2):\"%SystemRoot%\"\n"
                           "\"Multi\"=str(7):\"a\\0b\\0\"\n"
                           "\"Version\"=dword:01020005\n"
                           "@=hex:01,02\n"
                           "\n" +
                           other;
  rf::Document doc;
  ASSERT_EQ(rf::Parse(text, &doc), 0);
  EXPECT_EQ(doc.format, rf::Format::Wine);
  rf::Key* version = rf::FindKey(&doc, "SOFTWARE\\Varnholt\\Marovex\\Version");
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(rf::FindValue(version, "Folder")->data,
            Bytes(std::string("C:\\Games\\\xE9t\xE9\\\0\0\0", 16)));
  EXPECT_EQ(rf::FindValue(version, "Tab\t")->data, Bytes(std::string("a\tb\x01"
                                                                     "c\x1b\0",
                                                                     7)));
  EXPECT_EQ(rf::FindValue(version, "Path")->type, 2u);
  EXPECT_EQ(rf::FindValue(version, "Multi")->data, Bytes(std::string("a\0b\0\0", 5)));
  EXPECT_EQ(rf::FindValue(version, "Version")->data, (std::vector<uint8_t>{5, 0, 2, 1}));
  EXPECT_EQ(rf::FindValue(version, "")->type, plat::kRegBinary);
  rf::Key* kanji = rf::FindKey(&doc, "Software\\Other\\[x]");
  ASSERT_NE(kanji, nullptr);
  EXPECT_EQ(kanji->values[0].data, Bytes(std::string("?\0", 2)));

  std::string field(64, '\0');
  field.replace(0, 3, "new");
  rf::SetValue(version, RegValue{"Server", plat::kRegSz, Bytes(field)});
  const std::string back = rf::Serialize(doc);
  EXPECT_EQ(back.compare(0, head.size(), head), 0) << back;
  EXPECT_NE(back.find("\n\n" + other), std::string::npos) << back;
  EXPECT_EQ(back.find("1700000000"), std::string::npos) << back;
  EXPECT_EQ(back.find("#time=1d9c0a5b2e4f000"), std::string::npos) << back;
  std::string zeros;  // the field's zeros but the text's own terminator
  for (int i = 0; i < 60; ++i) zeros += "\\0";
  EXPECT_NE(back.find("\n\"Server\"=\"new" + zeros + "\"\n"), std::string::npos) << back;
  rf::Document again;
  ASSERT_EQ(rf::Parse(back, &again), 0) << back;
  rf::Key* changed = rf::FindKey(&again, "SOFTWARE\\Varnholt\\Marovex\\Version");
  ASSERT_NE(changed, nullptr);
  ASSERT_EQ(changed->values.size(), version->values.size());
  for (size_t i = 0; i < version->values.size(); ++i) {
    EXPECT_EQ(changed->values[i].data, version->values[i].data) << version->values[i].name;
  }

  // user.reg and the other files of a prefix hold other roots.
  EXPECT_EQ(
      rf::Parse("WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1\n", &doc),
      plat::kRegErrBadFormat);
}

TEST(RegFile, RoundTripKeepsEveryByteAndLength) {
  rf::Document doc;
  rf::Key* key = rf::AddKey(&doc, "SOFTWARE\\Test");
  std::string field(260, '\0');
  field.replace(0, 6, "C:\\MX\\");
  field[200] = 'z';  // bytes after the terminator are kept too
  rf::SetValue(key, RegValue{"Folder", plat::kRegSz, Bytes(field)});
  rf::SetValue(key, RegValue{"Quote\"d\\name", plat::kRegSz, Bytes(std::string("a\"b\\c") + '\0')});
  rf::SetValue(key, RegValue{"NoTerminator", plat::kRegSz, Bytes("abc")});
  rf::SetValue(key, RegValue{"Empty", plat::kRegBinary, {}});
  rf::SetValue(key, RegValue{"Type", plat::kRegDword, {3, 0, 1, 0}});
  rf::SetValue(key, RegValue{"Short", plat::kRegDword, {7, 0}});
  rf::SetValue(key, RegValue{"Odd", 0x7, Bytes(std::string("x\ny") + '\0')});
  std::vector<uint8_t> big(1000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
  rf::SetValue(key, RegValue{"Big", plat::kRegBinary, big});

  std::string text = rf::Serialize(doc);
  EXPECT_NE(text.find("\"Quote\\\"d\\\\name\"=\"a\\\"b\\\\c\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Type\"=dword:00010003\n"), std::string::npos) << text;
  rf::Document back;
  ASSERT_EQ(rf::Parse(text, &back), 0) << text;
  ASSERT_EQ(back.keys.size(), 1u);
  ASSERT_EQ(back.keys[0].values.size(), key->values.size());
  for (size_t i = 0; i < key->values.size(); ++i) {
    EXPECT_EQ(back.keys[0].values[i].name, key->values[i].name);
    EXPECT_EQ(back.keys[0].values[i].type, key->values[i].type) << key->values[i].name;
    EXPECT_EQ(back.keys[0].values[i].data, key->values[i].data) << key->values[i].name;
  }
  // Physical lines stay short even for a long value.
  size_t longest = 0, start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    longest = std::max(longest, nl - start);
  EXPECT_LT(longest, 100u);
}

TEST(RegFile, RefusesDamagedFiles) {
  const std::string head = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n";
  struct Case {
    const char* what;
    std::string text;
    int line;
  } cases[] = {
      {"no header", "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"b\"\n", 1},
      {"value before a key", "REGEDIT4\n\"a\"=\"b\"\n", 2},
      {"unknown type", head + "\"a\"=qword:00\n", 3},
      {"unterminated text", head + "\"a\"=\"b\n", 3},
      {"bad escape", head + "\"a\"=\"b\\n\"\n", 3},
      {"trailing junk", head + "\"a\"=\"b\" x\n", 3},
      {"missing =", head + "\"a\" \"b\"\n", 3},
      {"bad dword", head + "\"a\"=dword:12345678a\n", 3},
      {"bad hex", head + "\"a\"=hex:0g\n", 3},
      {"hex without type", head + "\"a\"=hex():00\n", 3},
      {"another root", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n", 2},
      {"a key to delete", "REGEDIT4\n[-HKEY_LOCAL_MACHINE\\A]\n", 2},
      {"unclosed key", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\n", 2},
      {"overlong line", head + "\"a\"=\"" + std::string(rf::kMaxLine, 'x') + "\"\n", 3},
  };
  for (const Case& c : cases) {
    rf::Document doc;
    int line = -1;
    EXPECT_EQ(rf::Parse(c.text, &doc, &line), plat::kRegErrBadFormat) << c.what;
    EXPECT_EQ(line, c.line) << c.what;
  }
}

TEST(RegFile, EmptyFileIsAnEmptyRegistry) {
  rf::Document doc;
  EXPECT_EQ(rf::Parse("", &doc), 0);
  EXPECT_EQ(rf::Parse("\n; nothing yet\n", &doc), 0);
  EXPECT_TRUE(doc.keys.empty());
}

TEST(RegFile, LaterValueOfTheSameNameWins) {
  rf::Document doc;
  ASSERT_EQ(
      rf::Parse(
          "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"1\"\n[HKEY_LOCAL_MACHINE\\a]\n\"V\"=\"2\"\n",
          &doc),
      0);
  ASSERT_EQ(doc.keys.size(), 1u);
  ASSERT_EQ(doc.keys[0].values.size(), 1u);
  EXPECT_EQ(doc.keys[0].values[0].data, Bytes(std::string("2") + '\0'));
}

}  // namespace
