// cGameSettings against this build's registry: the values, their order,
// every way a read fails, and what a write leaves stored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Env.h"
#include "tests/support/SettingsFixture.h"

namespace {

using Settings = SettingsTest;

TEST_F(Settings, ConstructedDefaults) {
  cGameSettings s;
  EXPECT_STREQ(s.MainPath, "");
  EXPECT_STREQ(s.InstPath, "");
  EXPECT_STREQ(s.CDAudioDrive, "");
  EXPECT_STREQ(s.Folder, "");
  EXPECT_STREQ(s.LastPlayer, "");
  EXPECT_STREQ(s.Server, "");
  EXPECT_EQ(s.Type, 0u);
  EXPECT_EQ(s.Version, 0u);
  EXPECT_EQ(s.CharSet, 1u);
  EXPECT_EQ(sizeof s.CDAudioDrive, 5u);
  EXPECT_EQ(sizeof s.LastPlayer, 64u);
  EXPECT_EQ(sizeof s.Folder, 260u);
}

TEST_F(Settings, ReadsEveryValueAndAddsSeparators) {
  cGameSettings s;
  ASSERT_TRUE(s.Read());
  EXPECT_EQ(std::string(s.MainPath), main_);
  EXPECT_EQ(std::string(s.VideoPath), main_ + "VIDEO\\");
  EXPECT_EQ(std::string(s.DataPath), main_ + "DATA\\");
  EXPECT_STREQ(s.SoundPath, "D:\\SOUND\\");
  EXPECT_STREQ(s.MusicPath, "D:/MUSIC/");
  EXPECT_STREQ(s.InstPath, "E:");
  EXPECT_EQ(s.Version, 0x01020003u);
  EXPECT_EQ(s.Type, 0xDDD10003u);
  EXPECT_STREQ(s.Folder, "Varnholt\\Marovex");
  EXPECT_STREQ(s.LastPlayer, "Ann");
  EXPECT_EQ(s.CharSet, 0u);
  EXPECT_STREQ(s.Server, "eu.example.net");
  EXPECT_STREQ(s.CDAudioDrive, "");  // never read
  EXPECT_TRUE(plat::Env::Default()->IsFolder((main_ + "SAVEGAME\\").c_str()));
}

TEST_F(Settings, MainPathWithoutSeparatorIsReadAndWrittenWithOne) {
  std::string bare = main_.substr(0, main_.size() - 1);
  PutText(kDirectoriesKey, "MainPath", bare);
  cGameSettings s;
  ASSERT_TRUE(s.Read());
  EXPECT_EQ(std::string(s.MainPath), bare + "\\");
  ASSERT_TRUE(s.Write());
  std::string stored = Stored(kDirectoriesKey, "MainPath");
  ASSERT_EQ(stored.size(), 260u);
  EXPECT_EQ(stored.substr(0, bare.size() + 2), bare + "\\" + '\0');
}

TEST_F(Settings, TypeWordNormalisation) {
  struct {
    uint32_t stored, read;
  } cases[] = {{0x00010003, 0xD0DDFFFF}, {0xDDD10003, 0xDDD10003}, {0xFFFF0001, 0xFFFF0001},
               {0xD0DD0102, 0xD0DD0102}, {0xDDD20000, 0xDDD20000}, {0xDEB00007, 0xDEB00007},
               {0x12345678, 0xD2FDFFFF}, {0, 0xD0DDFFFF}};
  for (const auto& c : cases) {
    EXPECT_EQ(NormaliseTypeWord(c.stored), c.read) << std::hex << c.stored;
  }
  PutWord(kVersionKey, "Type", 0x00010003);
  cGameSettings s;
  ASSERT_TRUE(s.Read());
  EXPECT_EQ(s.Type, 0xD0DDFFFFu);
  ASSERT_TRUE(s.Write());
  EXPECT_EQ(Stored(kVersionKey, "Type"), std::string("\xFF\xFF\xDD\xD0", 4));
}

TEST_F(Settings, EveryMissingValueFailsTheRead) {
  const struct {
    const char* key;
    const char* name;
  } values[] = {
      {kDirectoriesKey, "MainPath"},  {kDirectoriesKey, "VideoPath"}, {kDirectoriesKey, "DataPath"},
      {kDirectoriesKey, "SoundPath"}, {kDirectoriesKey, "MusicPath"}, {kDirectoriesKey, "InstPath"},
      {kVersionKey, "Version"},       {kVersionKey, "Type"},          {kVersionKey, "Folder"},
      {kVersionKey, "LastPlayer"},    {kVersionKey, "CharSet"},       {kVersionKey, "Server"}};
  for (const auto& v : values) {
    std::string keep = Stored(v.key, v.name);
    uint32_t type = 0;
    Stored(v.key, v.name, &type);
    RemoveValue(v.key, v.name);
    cGameSettings s;
    EXPECT_FALSE(s.Read()) << v.name;
    std::unique_ptr<plat::RegKey> k;
    ASSERT_EQ(plat::Registry::Default()->OpenKey(v.key, &k), 0);
    ASSERT_EQ(k->Set(v.name, type, keep.data(), static_cast<uint32_t>(keep.size())), 0);
  }
  cGameSettings s;
  EXPECT_TRUE(s.Read());
}

TEST_F(Settings, CDAudioDriveIsNotNeeded) {
  RemoveValue(kVersionKey, "CDAudioDrive");
  cGameSettings s;
  EXPECT_TRUE(s.Read());
}

TEST_F(Settings, TextsLongerThanTheirFieldFail) {
  struct {
    const char* key;
    const char* name;
    size_t fits, fails;
  } cases[] = {{kVersionKey, "LastPlayer", 63, 64},
               {kVersionKey, "Server", 63, 64},
               {kVersionKey, "Folder", 259, 260},
               {kDirectoriesKey, "InstPath", 258, 260},
               {kDirectoriesKey, "SoundPath", 258, 259}};
  for (const auto& c : cases) {
    std::string keep = Stored(c.key, c.name);
    PutText(c.key, c.name, std::string(c.fits, 'a'));
    cGameSettings ok;
    EXPECT_TRUE(ok.Read()) << c.name << " " << c.fits;
    PutText(c.key, c.name, std::string(c.fails, 'a'));
    cGameSettings bad;
    EXPECT_FALSE(bad.Read()) << c.name << " " << c.fails;
    PutText(c.key, c.name, keep.c_str());
  }
}

TEST_F(Settings, TextFillingItsFieldWithoutTerminatorFails) {
  std::unique_ptr<plat::RegKey> k;
  ASSERT_EQ(plat::Registry::Default()->OpenKey(kVersionKey, &k), 0);
  std::string name(64, 'n');
  ASSERT_EQ(k->Set("LastPlayer", plat::kRegSz, name.data(), 64), 0);
  cGameSettings s;
  EXPECT_FALSE(s.Read());
}

TEST_F(Settings, MainPathMustBeOnAFixedDrive) {
  PutText(kDirectoriesKey, "MainPath", "\\\\server\\share\\game");
  cGameSettings s;
  EXPECT_FALSE(s.Read());
}

TEST_F(Settings, MissingKeysFail) {
  plat::SetRegistryFile((dir_ / "other.reg").c_str());
  cGameSettings s;
  if (plat::RegistryFilePath().empty()) GTEST_SKIP() << "the real registry keeps its keys";
  EXPECT_FALSE(s.Read());
}

TEST_F(Settings, WriteStoresWholeFieldsAndKeepsCDAudioDrive) {
  cGameSettings s;
  ASSERT_TRUE(s.Read());
  s.Version = 0x01030000;
  std::strcpy(s.Server, "us.example.net");
  ASSERT_TRUE(s.Write());
  uint32_t type = 0;
  EXPECT_EQ(Stored(kVersionKey, "Version", &type), std::string("\x00\x00\x03\x01", 4));
  EXPECT_EQ(type, plat::kRegDword);
  std::string server = Stored(kVersionKey, "Server", &type);
  EXPECT_EQ(type, plat::kRegSz);
  ASSERT_EQ(server.size(), 64u);
  EXPECT_EQ(server, std::string("us.example.net") + std::string(50, '\0'));
  EXPECT_EQ(Stored(kVersionKey, "Folder").size(), 260u);
  EXPECT_EQ(Stored(kVersionKey, "LastPlayer").size(), 64u);
  EXPECT_EQ(Stored(kVersionKey, "CharSet"), std::string(4, '\0'));
  EXPECT_EQ(Stored(kDirectoriesKey, "InstPath").size(), 260u);
  EXPECT_EQ(Stored(kVersionKey, "CDAudioDrive"),
            std::string("F:\\") + '\0');  // an empty field stores nothing

  std::strcpy(s.CDAudioDrive, "G:\\");
  ASSERT_TRUE(s.Write());
  EXPECT_EQ(Stored(kVersionKey, "CDAudioDrive"), std::string("G:\\\0\0", 5));

  cGameSettings again;
  ASSERT_TRUE(again.Read());
  EXPECT_EQ(again.Version, 0x01030000u);
  EXPECT_STREQ(again.Server, "us.example.net");
  EXPECT_STREQ(again.SoundPath, "D:\\SOUND\\");
}

// Records every registry call and fails the chosen one.
class ScriptedRegistry : public plat::Registry {
 public:
  class Key : public plat::RegKey {
   public:
    Key(ScriptedRegistry* owner, std::string path, std::unique_ptr<plat::RegKey> inner)
        : owner_(owner), path_(std::move(path)), inner_(std::move(inner)) {}
    int Query(const char* name, uint32_t* type, void* data, uint32_t* size) override {
      if (owner_->Step("query " + std::string(name))) return 5;
      return inner_->Query(name, type, data, size);
    }
    int Set(const char* name, uint32_t type, const void* data, uint32_t size) override {
      if (owner_->Step("set " + std::string(name))) return 5;
      return inner_->Set(name, type, data, size);
    }
    int Delete(const char* name) override { return inner_->Delete(name); }
    int List(std::vector<plat::RegValue>* values) override { return inner_->List(values); }
    int Flush() override {
      if (owner_->Step("flush " + path_.substr(path_.rfind('\\') + 1))) return 5;
      return inner_->Flush();
    }

   private:
    ScriptedRegistry* owner_;
    std::string path_;
    std::unique_ptr<plat::RegKey> inner_;
  };

  int OpenKey(const char* path, std::unique_ptr<plat::RegKey>* out) override {
    return Wrap(path, "open ", plat::BackendRegistry()->OpenKey(path, out), out);
  }
  int CreateKey(const char* path, std::unique_ptr<plat::RegKey>* out) override {
    return Wrap(path, "create ", plat::BackendRegistry()->CreateKey(path, out), out);
  }
  int ListKeys(const char* path, std::vector<std::string>* keys) override {
    return plat::BackendRegistry()->ListKeys(path, keys);
  }

  // True when this call is the one to fail.
  bool Step(const std::string& what) {
    calls.push_back(what);
    return static_cast<int>(calls.size()) == failAt;
  }

  std::vector<std::string> calls;
  int failAt = 0;  // 1-based; 0: none

 private:
  int Wrap(const char* path, const char* verb, int err, std::unique_ptr<plat::RegKey>* out) {
    std::string p = path;
    std::string shortName = p.substr(p.rfind('\\') + 1);
    if (Step(verb + shortName)) {
      out->reset();
      return 5;
    }
    if (err != 0) return err;
    out->reset(new Key(this, p, std::move(*out)));
    return 0;
  }
};

const std::vector<std::string> kReadOrder = {
    "open Directories", "query MainPath",   "query VideoPath", "query DataPath", "query SoundPath",
    "query MusicPath",  "query InstPath",   "open Version",    "query Version",  "query Type",
    "query Folder",     "query LastPlayer", "query CharSet",   "query Server"};
// Each key is flushed once its values are written.
const std::vector<std::string> kWriteOrder = {
    "create Version",     "set Type",     "set Version",   "set Folder",
    "set LastPlayer",     "set CharSet",  "set Server",    "flush Version",
    "create Directories", "set MainPath", "set SoundPath", "set MusicPath",
    "set VideoPath",      "set DataPath", "set InstPath",  "flush Directories"};

TEST_F(Settings, ReadOrderAndStopAtEachFailure) {
  ScriptedRegistry reg;
  plat::SetDefaultRegistry(&reg);
  cGameSettings s;
  ASSERT_TRUE(s.Read());
  EXPECT_EQ(reg.calls, kReadOrder);
  for (size_t i = 1; i <= kReadOrder.size(); ++i) {
    reg.calls.clear();
    reg.failAt = static_cast<int>(i);
    cGameSettings f;
    EXPECT_FALSE(f.Read()) << kReadOrder[i - 1];
    EXPECT_EQ(reg.calls.size(), i) << kReadOrder[i - 1];
  }
}

TEST_F(Settings, WriteOrderAndStopAtEachFailure) {
  cGameSettings s;
  ASSERT_TRUE(s.Read());
  ScriptedRegistry reg;
  plat::SetDefaultRegistry(&reg);
  ASSERT_TRUE(s.Write());
  EXPECT_EQ(reg.calls, kWriteOrder);
  for (size_t i = 1; i <= kWriteOrder.size(); ++i) {
    reg.calls.clear();
    reg.failAt = static_cast<int>(i);
    EXPECT_FALSE(s.Write()) << kWriteOrder[i - 1];
    EXPECT_EQ(reg.calls.size(), i) << kWriteOrder[i - 1];
  }
  // With a drive in the record it is written between LastPlayer and
  // CharSet, and its failure is ignored.
  std::strcpy(s.CDAudioDrive, "F:\\");
  reg.calls.clear();
  reg.failAt = 6;
  EXPECT_TRUE(s.Write());
  EXPECT_EQ(reg.calls[5], "set CDAudioDrive");
  EXPECT_EQ(reg.calls[6], "set CharSet");
}

TEST_F(Settings, SaveGameFolderOnlyAfterDirectoriesAreRead) {
  std::string saveGame = main_ + "SAVEGAME\\";
  ScriptedRegistry reg;
  plat::SetDefaultRegistry(&reg);
  reg.failAt = 7;  // InstPath
  cGameSettings s;
  EXPECT_FALSE(s.Read());
  EXPECT_FALSE(plat::Env::Default()->IsFolder(saveGame.c_str()));
  reg.calls.clear();
  reg.failAt = 9;  // Version, after the Directories key
  EXPECT_FALSE(s.Read());
  EXPECT_TRUE(plat::Env::Default()->IsFolder(saveGame.c_str()));
}

}  // namespace
