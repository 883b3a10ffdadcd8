// The scene of an install test: an updater folder holding the shipped file,
// a destination folder, a sink that records what the install showed.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ourlib/src/PathText.h"
#include "platform/Env.h"
#include "tests/support/RecordingSink.h"
#include "tests/support/TestPaths.h"
#include "tests/update/PackageBuilder.h"
#include "update/Operations.h"
#include "update/PackageInstall.h"

namespace pkgtest {

class InstallScene : public ::testing::Test {
 protected:
  testing_support::TempDir tmp;
  std::string updater = tmp / "upd";
  std::string dest = tmp / "game";
  testing_support::RecordingSink sink;
  char failed[kPathField] = "stale";

  void SetUp() override {
    plat::Env::Default()->CreateFolder(updater.c_str());
    plat::Env::Default()->CreateFolder(dest.c_str());
  }

  void Ship(const std::string& name, const std::string& bytes) {
    testing_support::WriteFileBytes(updater + "/" + name, bytes);
  }
  int Install(const std::string& name) {
    return InstallFiles(sink, updater.c_str(), dest.c_str(), name.c_str(), failed, sizeof failed);
  }
  // The installer's own spelling of paths below the two folders.
  std::string Source(const std::string& name) const { return updater + "\\" + name; }
  std::string Dest(const std::string& rel) const { return dest + "\\" + rel; }
  std::string Read(const std::string& rel) const {
    return testing_support::ReadFileBytes(dest + "/" + rel);
  }
  bool Exists(const std::string& rel) const {
    return plat::Env::Default()->Exists((dest + "/" + rel).c_str());
  }
  bool IsFolder(const std::string& rel) const {
    return plat::Env::Default()->IsFolder((dest + "/" + rel).c_str());
  }
};

inline plat::FileTimes TimesOf(const std::string& path) {
  std::unique_ptr<plat::File> f;
  plat::FileTimes t;
  EXPECT_EQ(0, plat::Env::Default()->Open(path.c_str(), plat::Access::Read, plat::Share::Read,
                                          plat::Disposition::OpenExisting, plat::ATTR_NORMAL, &f));
  if (f) {
    EXPECT_EQ(0, f->GetTimes(&t));
  }
  return t;
}

inline uint64_t FileTimeOf(uint16_t year, uint16_t month, uint16_t day, uint16_t hour,
                           uint16_t minute) {
  uint64_t ft = 0;
  EXPECT_TRUE(pkg::SystemTimeToFileTime(Clock(year, month, day, hour, minute), &ft));
  return ft;
}

}  // namespace pkgtest
