// The .reg text format: what a person or regedit writes is read back with
// every byte and length, and a damaged file is refused, never half-read.
#include <gtest/gtest.h>

#include <string>

#include "platform/RegFile.h"

namespace {

using plat::RegValue;
namespace rf = plat::regfile;

std::vector<uint8_t> Bytes(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

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
      "\"Field\"=hex(1):41,00,00\r\n"
      "@=\"default\"\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnholt\\Marovex\\Directories]\r\n"
      "\"MainPath\"=\"C:\\\\Games\\\\MX\\\\\"\r\n";
  rf::Document doc;
  ASSERT_EQ(rf::Parse(text, &doc), 0);
  ASSERT_EQ(doc.keys.size(), 2u);
  rf::Key* version = rf::FindKey(&doc, "software\\varnholt\\marovex\\VERSION");
  ASSERT_NE(version, nullptr);
  ASSERT_EQ(version->values.size(), 5u);
  RegValue* server = rf::FindValue(version, "SERVER");
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(server->type, plat::kRegSz);
  EXPECT_EQ(server->data, Bytes(std::string("eu \"one\" \\ two") + '\0'));
  EXPECT_EQ(rf::FindValue(version, "Version")->data,
            (std::vector<uint8_t>{0x0a, 0x00, 0x02, 0x01}));
  EXPECT_EQ(rf::FindValue(version, "Version")->type, plat::kRegDword);
  EXPECT_EQ(rf::FindValue(version, "Raw")->data, (std::vector<uint8_t>{1, 2, 0xff}));
  EXPECT_EQ(rf::FindValue(version, "Raw")->type, plat::kRegBinary);
  EXPECT_EQ(rf::FindValue(version, "Field")->data, (std::vector<uint8_t>{'A', 0, 0}));
  EXPECT_EQ(rf::FindValue(version, "Field")->type, plat::kRegSz);
  EXPECT_EQ(rf::FindValue(version, "")->data, Bytes(std::string("default") + '\0'));
  rf::Key* dirs = rf::FindKey(&doc, "SOFTWARE\\Varnholt\\Marovex\\Directories");
  EXPECT_EQ(rf::FindValue(dirs, "MainPath")->data, Bytes(std::string("C:\\Games\\MX\\") + '\0'));
  EXPECT_TRUE(rf::KeyExists(doc, "SOFTWARE\\Varnholt"));
  EXPECT_FALSE(rf::KeyExists(doc, "SOFTWARE\\Varn"));
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
