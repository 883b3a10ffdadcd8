// The registry seam of this build: the real registry on Windows, the .reg
// file on POSIX. Both must answer alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/Env.h"
#include "platform/RegFile.h"
#include "platform/testing/FaultEnv.h"
#include "tests/support/RecordingEnv.h"
#include "tests/support/SettingsFixture.h"

namespace {

using Registry = SettingsTest;
constexpr const char* kTestKey = "SOFTWARE\\Varnholt\\RegistryTest\\Inner";

TEST_F(Registry, ExactLengthsAndTooSmallBuffers) {
  std::unique_ptr<plat::RegKey> k;
  ASSERT_EQ(plat::Registry::Default()->CreateKey(kTestKey, &k), 0);
  // A text with a zero inside and at its end, as a whole field is stored.
  std::string data = std::string("abc") + '\0' + "de" + '\0';
  ASSERT_EQ(k->Set("Mixed", plat::kRegSz, data.data(), static_cast<uint32_t>(data.size())), 0);
  char buf[16] = {};
  uint32_t size = 7, type = 0;
  ASSERT_EQ(k->Query("Mixed", &type, buf, &size), 0);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(type, plat::kRegSz);
  EXPECT_EQ(std::string(buf, 7), data);
  size = 6;
  EXPECT_EQ(k->Query("Mixed", &type, buf, &size), plat::kRegErrMoreData);
  EXPECT_EQ(size, 7u);
  size = sizeof buf;
  EXPECT_EQ(k->Query("mixed", nullptr, buf, &size), 0);  // names ignore case
  EXPECT_EQ(k->Query("Nothing", nullptr, buf, &size), plat::kRegErrNotFound);
  uint8_t blob[3] = {0, 0xff, 7};
  ASSERT_EQ(k->Set("Blob", plat::kRegBinary, blob, 3), 0);
  std::vector<plat::RegValue> values;
  ASSERT_EQ(k->List(&values), 0);
  ASSERT_EQ(values.size(), 2u);
  auto blobValue = std::find_if(values.begin(), values.end(),
                                [](const plat::RegValue& v) { return v.name == "Blob"; });
  ASSERT_NE(blobValue, values.end());
  EXPECT_EQ(blobValue->data, (std::vector<uint8_t>{0, 0xff, 7}));
  EXPECT_EQ(k->Delete("Blob"), 0);
  EXPECT_EQ(k->Delete("Blob"), plat::kRegErrNotFound);
}

TEST_F(Registry, KeysOpenCreateAndList) {
  std::unique_ptr<plat::RegKey> k;
  EXPECT_EQ(plat::Registry::Default()->OpenKey("SOFTWARE\\Varnholt\\NoSuchKey", &k),
            plat::kRegErrNotFound);
  ASSERT_EQ(plat::Registry::Default()->CreateKey(kTestKey, &k), 0);
  // The parents of a created key exist too.
  EXPECT_EQ(plat::Registry::Default()->OpenKey("SOFTWARE\\Varnholt\\RegistryTest", &k), 0);
  std::vector<std::string> keys;
  ASSERT_EQ(plat::Registry::Default()->ListKeys("SOFTWARE\\Varnholt", &keys), 0);
  EXPECT_NE(std::find(keys.begin(), keys.end(), std::string(kTestKey)), keys.end());
  EXPECT_NE(std::find(keys.begin(), keys.end(), std::string(kVersionKey)), keys.end());
}

// The .reg file stand-in only.
class RegistryFile : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    if (plat::RegistryFilePath().empty()) GTEST_SKIP() << "this build uses the real registry";
    file_ = plat::RegistryFilePath();
  }
  std::string file_;
};

TEST_F(RegistryFile, DamagedFileFailsTheReadCleanly) {
  std::string good = testing_support::ReadFileBytes(file_);
  const std::string damaged[] = {
      good + "\"Broken\"=\"no end\n",
      good + "\"Odd\"=qword:1\n",
      good + "\"Long\"=\"" + std::string(plat::regfile::kMaxLine + 1, 'x') + "\"\n",
      "not a registry file\n",
  };
  for (const std::string& text : damaged) {
    testing_support::WriteFileBytes(file_, text);
    cGameSettings s;
    EXPECT_FALSE(s.Read());
    // A write does not replace a file it cannot read.
    EXPECT_FALSE(s.Write());
    EXPECT_EQ(testing_support::ReadFileBytes(file_), text);
  }
  testing_support::WriteFileBytes(file_, good);
  cGameSettings s;
  EXPECT_TRUE(s.Read());
}

TEST_F(RegistryFile, FailedWriteLeavesTheOldFile) {
  std::string before = testing_support::ReadFileBytes(file_);
  std::unique_ptr<plat::RegKey> k;
  ASSERT_EQ(plat::Registry::Default()->OpenKey(kVersionKey, &k), 0);
  // Where this process puts its temporary file (the name carries the
  // process id) there is a folder: the write fails before the rename.
  std::string pid = std::filesystem::read_symlink("/proc/self").string();
  std::string blocker = file_ + ".tmp-" + pid;
  ASSERT_EQ(plat::Env::Default()->CreateFolder(blocker.c_str()), 0);
  EXPECT_EQ(k->Set("Server", plat::kRegSz, "x", 2), plat::kRegErrWriteFault);
  EXPECT_EQ(testing_support::ReadFileBytes(file_), before);
  cGameSettings s;
  EXPECT_TRUE(s.Read());
  EXPECT_STREQ(s.Server, "eu.example.net");
}

// Each change is flushed before its rename over the file and its folder
// synced after it; a failure of either fails the change, and one before the
// rename leaves the old file and no temporary.
TEST_F(RegistryFile, ChangesAreFlushedRenamedAndSynced) {
  cGameSettings s;
  ASSERT_TRUE(s.Read());
  testing_support::RecordingEnv recording(plat::Env::Default());
  plat::SetDefaultEnv(&recording);
  const bool written = s.Write();
  plat::SetDefaultEnv(nullptr);
  ASSERT_TRUE(written);
  EXPECT_EQ(testing_support::Renames(recording.events), 12);  // one per value written
  EXPECT_EQ(testing_support::UnsafeRenames(recording.events), std::vector<std::string>{});

  const std::string before = testing_support::ReadFileBytes(file_);
  const std::string folder = file_.substr(0, file_.rfind('/') + 1);
  for (plat::FaultKind kind :
       {plat::FaultKind::Flush, plat::FaultKind::Rename, plat::FaultKind::SyncFolder}) {
    SCOPED_TRACE(static_cast<int>(kind));
    std::unique_ptr<plat::RegKey> k;
    ASSERT_EQ(plat::Registry::Default()->OpenKey(kVersionKey, &k), 0);
    plat::FaultEnv faults(plat::Env::Default());
    faults.FailNth(kind, 1, 5);
    plat::SetDefaultEnv(&faults);
    const int rc = k->Set("Server", plat::kRegSz, "x", 2);
    plat::SetDefaultEnv(nullptr);
    EXPECT_EQ(rc, plat::kRegErrWriteFault);
    EXPECT_EQ(testing_support::FolderNames(folder),
              (std::vector<std::string>{"game", "registry.reg"}));
    // A failed sync comes after the rename: the new file is already in place.
    EXPECT_EQ(testing_support::ReadFileBytes(file_) == before, kind != plat::FaultKind::SyncFolder);
  }
}

TEST_F(RegistryFile, WrittenFileIsReadable) {
  cGameSettings s;
  ASSERT_TRUE(s.Read());
  ASSERT_TRUE(s.Write());
  std::string text = testing_support::ReadFileBytes(file_);
  EXPECT_EQ(text.compare(0, 9, "REGEDIT4\n"), 0);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnholt\\Marovex\\Version]\n"),
            std::string::npos);
  EXPECT_NE(text.find("\"Version\"=dword:01020003\n"), std::string::npos);
  EXPECT_NE(text.find("\"CDAudioDrive\"=\"F:\\\\\"\n"), std::string::npos);
  EXPECT_NE(text.find("\"Folder\"=hex(1):56,61,72,6e,68,6f,6c,74"), std::string::npos);
}

}  // namespace
