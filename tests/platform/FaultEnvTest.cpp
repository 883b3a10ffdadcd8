#include "platform/testing/FaultEnv.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/TestPaths.h"

namespace {

using plat::Access;
using plat::Disposition;
using plat::FaultEnv;
using plat::FaultKind;
using plat::File;
using plat::Mapping;
using plat::Share;
using testing_support::ReadFileBytes;
using testing_support::TempDir;

std::unique_ptr<File> Create(plat::Env* env, const std::string& path) {
  std::unique_ptr<File> f;
  EXPECT_EQ(
      env->Open(path.c_str(), Access::ReadWrite, Share::None, Disposition::CreateAlways, 0, &f), 0);
  return f;
}

int Write(File* f, const char* text, uint32_t* put) {
  return f->Write(text, static_cast<uint32_t>(std::strlen(text)), put);
}

TEST(FaultEnv, FailsOnlyTheNthWriteAndWritesNothingThen) {
  TempDir dir;
  FaultEnv env(plat::BackendEnv());
  env.FailNth(FaultKind::Write, 3, 1784);
  const std::string path = dir / "w.bin";
  {
    auto f = Create(&env, path);
    ASSERT_TRUE(f);
    uint32_t put = 0;
    EXPECT_EQ(Write(f.get(), "ab", &put), 0);
    EXPECT_EQ(Write(f.get(), "cd", &put), 0);
    EXPECT_EQ(Write(f.get(), "XX", &put), 1784);
    EXPECT_EQ(put, 0u);
    EXPECT_EQ(Write(f.get(), "ef", &put), 0);
    EXPECT_EQ(env.Calls(FaultKind::Write), 4);
  }
  EXPECT_EQ(ReadFileBytes(path), "abcdef");
}

TEST(FaultEnv, FullDiskWritesWhatFitsThenFails) {
  TempDir dir;
  FaultEnv env(plat::BackendEnv());
  const std::string path = dir / "full.bin";
  {
    auto f = Create(&env, path);
    ASSERT_TRUE(f);
    env.SetWriteBudget(10);
    uint32_t put = 0;
    EXPECT_EQ(Write(f.get(), "012345", &put), 0);
    EXPECT_EQ(put, 6u);
    EXPECT_EQ(Write(f.get(), "6789AB", &put), plat::kErrDiskFull);
    EXPECT_EQ(put, 4u);
    EXPECT_EQ(Write(f.get(), "C", &put), plat::kErrDiskFull);
    EXPECT_EQ(put, 0u);
    env.ClearWriteBudget();
    EXPECT_EQ(Write(f.get(), "!", &put), 0);
  }
  EXPECT_EQ(ReadFileBytes(path), "0123456789!");
}

TEST(FaultEnv, FailedOpenCreatesNothingAndOtherKindsCountApart) {
  TempDir dir;
  FaultEnv env(plat::BackendEnv());
  env.FailNth(FaultKind::Open, 1, 5);
  env.FailNth(FaultKind::CreateFolder, 2, 183);
  env.FailNth(FaultKind::Read, 1, 23);
  env.FailNth(FaultKind::SetTimes, 1, 6);
  const std::string path = dir / "o.bin";
  std::unique_ptr<File> f;
  EXPECT_EQ(
      env.Open(path.c_str(), Access::ReadWrite, Share::None, Disposition::CreateAlways, 0, &f), 5);
  EXPECT_FALSE(f);
  EXPECT_FALSE(env.Exists(path.c_str()));
  f = Create(&env, path);  // the second open goes through
  ASSERT_TRUE(f);
  char buf[4];
  uint32_t got = 7;
  EXPECT_EQ(f->Read(buf, sizeof buf, &got), 23);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(f->Read(buf, sizeof buf, &got), 0);
  plat::FileTimes t;
  t.lastWrite = 126257139060000000ull;
  EXPECT_EQ(f->SetTimes(t), 6);
  EXPECT_EQ(f->SetTimes(t), 0);

  EXPECT_EQ(env.CreateFolder((dir / "a").c_str()), 0);
  EXPECT_EQ(env.CreateFolder((dir / "b").c_str()), 183);
  EXPECT_FALSE(env.IsFolder((dir / "b").c_str()));
  EXPECT_EQ(env.CreateFolder((dir / "b").c_str()), 0);
}

TEST(FaultEnv, FailedGrowKeepsTheOldViewAndFailedMapGivesNone) {
  TempDir dir;
  FaultEnv env(plat::BackendEnv());
  auto f = Create(&env, dir / "m.dkd");
  ASSERT_TRUE(f);
  env.FailNth(FaultKind::Map, 1, 8);
  std::unique_ptr<Mapping> m;
  EXPECT_EQ(env.Map(f.get(), true, 4096, &m), 8);
  EXPECT_FALSE(m);
  ASSERT_EQ(env.Map(f.get(), true, 4096, &m), 0);
  std::memcpy(m->Data(), "DKFM", 4);
  env.FailNth(FaultKind::Grow, 1, 112);
  EXPECT_EQ(m->Grow(8192), 112);
  EXPECT_EQ(m->Size(), 4096u);
  EXPECT_EQ(std::memcmp(m->Data(), "DKFM", 4), 0);
  ASSERT_EQ(m->Grow(8192), 0);
  EXPECT_EQ(std::memcmp(m->Data(), "DKFM", 4), 0);
}

TEST(FaultEnv, StandsInForTheDefaultUntilRemoved) {
  FaultEnv env(plat::BackendEnv());
  plat::SetDefaultEnv(&env);
  EXPECT_EQ(plat::Env::Default(), &env);
  plat::SetDefaultEnv(nullptr);
  EXPECT_EQ(plat::Env::Default(), plat::BackendEnv());
}

}  // namespace
