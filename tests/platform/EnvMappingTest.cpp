// File mapping against this build's backend: growth keeps the content, and a
// file cut at close has the size the store files rely on.
#include "platform/Env.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/TestPaths.h"

namespace {

using plat::Access;
using plat::Disposition;
using plat::Env;
using plat::File;
using plat::Mapping;
using plat::Share;
using testing_support::TempDir;

std::unique_ptr<File> Open(const std::string& path, Access a, Disposition d) {
  std::unique_ptr<File> f;
  EXPECT_EQ(Env::Default()->Open(path.c_str(), a, Share::None, d, 0, &f), 0);
  return f;
}

uint8_t Pattern(uint64_t i) { return static_cast<uint8_t>((i * 7 + 3) ^ (i >> 8)); }

TEST(EnvMapping, GrowKeepsContentAndCutAtCloseGivesTheLogicalSize) {
  TempDir dir;
  const std::string path = dir / "heap.dkd";
  constexpr uint64_t kFirst = 4096, kGrown = 1 << 20, kLogical = 5000;
  {
    auto f = Open(path, Access::ReadWrite, Disposition::CreateAlways);
    ASSERT_TRUE(f);
    std::unique_ptr<Mapping> m;
    ASSERT_EQ(Env::Default()->Map(f.get(), true, kFirst, &m), 0);
    ASSERT_EQ(m->Size(), kFirst);
    uint64_t size = 0;
    ASSERT_EQ(f->Size(&size), 0);
    EXPECT_EQ(size, kFirst);  // a writable mapping extends the file
    for (uint64_t i = 0; i < kFirst; ++i) m->Data()[i] = Pattern(i);

    ASSERT_EQ(m->Grow(kGrown), 0);
    ASSERT_EQ(m->Size(), kGrown);
    for (uint64_t i = 0; i < kFirst; ++i) ASSERT_EQ(m->Data()[i], Pattern(i)) << i;
    for (uint64_t i = kFirst; i < kGrown; ++i) m->Data()[i] = Pattern(i);
    m.reset();  // unmapped before the file is cut, as Windows requires

    ASSERT_EQ(f->Seek(kLogical), 0);
    ASSERT_EQ(f->SetEnd(), 0);
  }
  auto f = Open(path, Access::Read, Disposition::OpenExisting);
  ASSERT_TRUE(f);
  uint64_t size = 0;
  ASSERT_EQ(f->Size(&size), 0);
  EXPECT_EQ(size, kLogical);
  std::string bytes(kLogical, '\0');
  uint32_t got = 0;
  ASSERT_EQ(f->Read(&bytes[0], kLogical, &got), 0);
  ASSERT_EQ(got, kLogical);
  for (uint64_t i = 0; i < kLogical; ++i)
    ASSERT_EQ(static_cast<uint8_t>(bytes[i]), Pattern(i)) << i;
}

TEST(EnvMapping, ReadOnlyViewSeesWrittenBytesAndMustFitTheFile) {
  TempDir dir;
  const std::string path = dir / "index.dkx";
  {
    auto f = Open(path, Access::ReadWrite, Disposition::CreateAlways);
    ASSERT_TRUE(f);
    uint32_t put = 0;
    ASSERT_EQ(f->Write("DKBT-header", 11, &put), 0);
  }
  auto f = Open(path, Access::Read, Disposition::OpenExisting);
  ASSERT_TRUE(f);
  std::unique_ptr<Mapping> m;
  ASSERT_EQ(Env::Default()->Map(f.get(), false, 11, &m), 0);
  EXPECT_EQ(std::memcmp(m->Data(), "DKBT-header", 11), 0);
  EXPECT_NE(m->Grow(4096), 0);  // a read-only view cannot pass the file's end
  EXPECT_EQ(m->Size(), 11u);
  EXPECT_EQ(std::memcmp(m->Data(), "DKBT-header", 11), 0);

  std::unique_ptr<Mapping> other;
  EXPECT_NE(Env::Default()->Map(f.get(), false, 4096, &other), 0);
  EXPECT_FALSE(other);
  EXPECT_NE(Env::Default()->Map(f.get(), true, 11, &other), 0);  // file opened for reading
  EXPECT_FALSE(other);
  EXPECT_NE(Env::Default()->Map(f.get(), false, 0, &other), 0);
  EXPECT_FALSE(other);
}

}  // namespace
