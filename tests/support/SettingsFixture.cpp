#include "tests/support/SettingsFixture.h"

#include "platform/Env.h"
#include "platform/RegFile.h"

void SettingsTest::SetUp() {
  plat::SetRegistryFile((dir_ / "registry.reg").c_str());
  main_ = dir_ / "game";
  ASSERT_EQ(plat::Env::Default()->CreateFolder(main_.c_str()), 0);
  main_ += main_.find('\\') != std::string::npos ? "\\" : "/";
  const char* d = kDirectoriesKey;
  PutText(d, "MainPath", main_);
  PutText(d, "VideoPath", main_ + "VIDEO");
  PutText(d, "DataPath", main_ + "DATA\\");
  PutText(d, "SoundPath", "D:\\SOUND");
  PutText(d, "MusicPath", "D:/MUSIC/");
  PutText(d, "InstPath", "E:");
  const char* v = kVersionKey;
  PutWord(v, "Version", 0x01020003);
  PutWord(v, "Type", 0xDDD10003);
  PutText(v, "Folder", "Varnholt\\Marovex");
  PutText(v, "LastPlayer", "Ann");
  PutWord(v, "CharSet", 0);
  PutText(v, "Server", "eu.example.net");
  PutText(v, "CDAudioDrive", "F:\\");
}

void SettingsTest::TearDown() {
  plat::SetDefaultRegistry(nullptr);
  plat::SetRegistryFile(nullptr);
}
