// The file seam against this build's backend.
#include "platform/Env.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/TestPaths.h"

namespace {

using plat::Access;
using plat::Disposition;
using plat::Env;
using plat::File;
using plat::Share;
using testing_support::TempDir;

std::unique_ptr<File> OpenOk(const std::string& path, Access a, Share s, Disposition d) {
  std::unique_ptr<File> f;
  EXPECT_EQ(Env::Default()->Open(path.c_str(), a, s, d, 0, &f), 0) << path;
  return f;
}

int OpenCode(const std::string& path, Access a, Share s, Disposition d) {
  std::unique_ptr<File> f;
  int rc = Env::Default()->Open(path.c_str(), a, s, d, 0, &f);
  EXPECT_EQ(rc != 0, f == nullptr);
  return rc;
}

void WriteAll(File* f, const std::string& bytes) {
  uint32_t put = 0;
  ASSERT_EQ(f->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &put), 0);
  ASSERT_EQ(put, bytes.size());
}

std::string ReadAt(File* f, uint64_t offset, uint32_t n) {
  std::string buf(n, '\0');
  uint32_t got = 0;
  EXPECT_EQ(f->Seek(offset), 0);
  EXPECT_EQ(f->Read(&buf[0], n, &got), 0);
  buf.resize(got);
  return buf;
}

uint64_t SizeOf(File* f) {
  uint64_t size = ~0ull;
  EXPECT_EQ(f->Size(&size), 0);
  return size;
}

TEST(EnvFile, WriterExcludesEveryOtherOpener) {
  TempDir dir;
  const std::string path = dir / "store.dkx";
  auto writer = OpenOk(path, Access::ReadWrite, Share::Read, Disposition::CreateAlways);
  ASSERT_TRUE(writer);
  EXPECT_EQ(OpenCode(path, Access::ReadWrite, Share::Read, Disposition::OpenExisting),
            plat::kErrSharingViolation);
  EXPECT_EQ(OpenCode(path, Access::Read, Share::Read, Disposition::OpenExisting),
            plat::kErrSharingViolation);
  writer.reset();
  EXPECT_TRUE(OpenOk(path, Access::ReadWrite, Share::None, Disposition::OpenExisting));
}

TEST(EnvFile, SharedReadersCoexistButExcludeWritersAndNonSharers) {
  TempDir dir;
  const std::string path = dir / "units.dkd";
  OpenOk(path, Access::ReadWrite, Share::None, Disposition::CreateAlways);
  auto r1 = OpenOk(path, Access::Read, Share::Read, Disposition::OpenExisting);
  auto r2 = OpenOk(path, Access::Read, Share::Read, Disposition::OpenExisting);
  ASSERT_TRUE(r1 && r2);
  EXPECT_EQ(OpenCode(path, Access::ReadWrite, Share::Read, Disposition::OpenExisting),
            plat::kErrSharingViolation);
  EXPECT_EQ(OpenCode(path, Access::Read, Share::None, Disposition::OpenExisting),
            plat::kErrSharingViolation);
  // A sharing violation must not truncate the file it could not open.
  r1.reset();
  r2.reset();
  {
    auto w = OpenOk(path, Access::ReadWrite, Share::None, Disposition::OpenExisting);
    WriteAll(w.get(), "keep");
    EXPECT_EQ(OpenCode(path, Access::Read, Share::Read, Disposition::OpenExisting),
              plat::kErrSharingViolation);
    EXPECT_NE(OpenCode(path, Access::ReadWrite, Share::None, Disposition::CreateAlways), 0);
    EXPECT_EQ(SizeOf(w.get()), 4u);
  }
}

TEST(EnvFile, ReadWriteSeekAndSetEnd) {
  TempDir dir;
  const std::string path = dir / "plain.bin";
  {
    auto f = OpenOk(path, Access::ReadWrite, Share::None, Disposition::CreateAlways);
    ASSERT_TRUE(f);
    WriteAll(f.get(), "hello world");
    EXPECT_EQ(ReadAt(f.get(), 6, 100), "world");  // short read at the end
    EXPECT_EQ(ReadAt(f.get(), 11, 4), "");
    ASSERT_EQ(f->Seek(20), 0);
    ASSERT_EQ(f->SetEnd(), 0);  // extends
    EXPECT_EQ(SizeOf(f.get()), 20u);
    ASSERT_EQ(f->Seek(5), 0);
    ASSERT_EQ(f->SetEnd(), 0);  // truncates
  }
  auto f = OpenOk(path, Access::Read, Share::Read, Disposition::OpenExisting);
  ASSERT_TRUE(f);
  EXPECT_EQ(SizeOf(f.get()), 5u);
  EXPECT_EQ(ReadAt(f.get(), 0, 100), "hello");
  uint32_t put = 99;
  EXPECT_NE(f->Write("x", 1, &put), 0);  // opened for reading only
  EXPECT_EQ(put, 0u);
}

TEST(EnvFile, Dispositions) {
  TempDir dir;
  const std::string path = dir / "d.txt";
  EXPECT_NE(OpenCode(path, Access::Read, Share::Read, Disposition::OpenExisting), 0);
  EXPECT_FALSE(Env::Default()->Exists(path.c_str()));
  {
    auto f = OpenOk(path, Access::ReadWrite, Share::None, Disposition::OpenAlways);
    ASSERT_TRUE(f);
    WriteAll(f.get(), "abc");
  }
  {
    auto f = OpenOk(path, Access::ReadWrite, Share::None, Disposition::OpenAlways);
    ASSERT_TRUE(f);
    EXPECT_EQ(SizeOf(f.get()), 3u);
  }
  auto f = OpenOk(path, Access::ReadWrite, Share::None, Disposition::CreateAlways);
  ASSERT_TRUE(f);
  EXPECT_EQ(SizeOf(f.get()), 0u);
}

TEST(EnvFile, TimesRoundTripAndZeroLeavesUnchanged) {
  TempDir dir;
  const std::string path = dir / "t.bin";
  // 2001-02-03 04:05:06.7891234 UTC in 100 ns units since 1601.
  const uint64_t written = 126257139067891234ull;
  const uint64_t accessed = written + 864000000000ull;  // one day later
  {
    auto f = OpenOk(path, Access::ReadWrite, Share::None, Disposition::CreateAlways);
    ASSERT_TRUE(f);
    WriteAll(f.get(), "x");
    plat::FileTimes t;
    t.lastWrite = written;
    t.lastAccess = accessed;
    ASSERT_EQ(f->SetTimes(t), 0);
  }
  auto f = OpenOk(path, Access::ReadWrite, Share::None, Disposition::OpenExisting);
  ASSERT_TRUE(f);
  plat::FileTimes got;
  ASSERT_EQ(f->GetTimes(&got), 0);
  EXPECT_EQ(got.lastWrite, written);
  EXPECT_EQ(got.lastAccess, accessed);
  EXPECT_NE(got.creation, 0u);

  plat::FileTimes onlyAccess;
  onlyAccess.lastAccess = accessed + 10000000;
  ASSERT_EQ(f->SetTimes(onlyAccess), 0);
  ASSERT_EQ(f->GetTimes(&got), 0);
  EXPECT_EQ(got.lastWrite, written);
  EXPECT_EQ(got.lastAccess, accessed + 10000000);
}

TEST(EnvFile, ReadOnlyAttributeRefusesWritingAndDeleting) {
  TempDir dir;
  Env* env = Env::Default();
  const std::string path = dir / "ro.txt";
  OpenOk(path, Access::ReadWrite, Share::None, Disposition::CreateAlways);
  uint32_t a = 0;
  ASSERT_EQ(env->GetAttributes(path.c_str(), &a), 0);
  EXPECT_EQ(a & (plat::ATTR_READONLY | plat::ATTR_DIRECTORY), 0u);

  ASSERT_EQ(env->SetAttributes(path.c_str(), plat::ATTR_READONLY), 0);
  ASSERT_EQ(env->GetAttributes(path.c_str(), &a), 0);
  EXPECT_NE(a & plat::ATTR_READONLY, 0u);
  EXPECT_NE(OpenCode(path, Access::ReadWrite, Share::None, Disposition::OpenExisting), 0);
  EXPECT_NE(OpenCode(path, Access::ReadWrite, Share::None, Disposition::CreateAlways), 0);
  EXPECT_NE(env->Delete(path.c_str()), 0);
  EXPECT_TRUE(OpenOk(path, Access::Read, Share::Read, Disposition::OpenExisting));

  ASSERT_EQ(env->SetAttributes(path.c_str(), plat::ATTR_NORMAL), 0);
  ASSERT_EQ(env->GetAttributes(path.c_str(), &a), 0);
  EXPECT_EQ(a & plat::ATTR_READONLY, 0u);
  EXPECT_EQ(env->Delete(path.c_str()), 0);
  EXPECT_NE(env->GetAttributes(path.c_str(), &a), 0);
}

TEST(EnvFile, FoldersExistenceDeleteAndRename) {
  TempDir dir;
  Env* env = Env::Default();
  const std::string sub = dir / "Sub";
  ASSERT_EQ(env->CreateFolder(sub.c_str()), 0);
  EXPECT_NE(env->CreateFolder(sub.c_str()), 0);
  EXPECT_TRUE(env->Exists(sub.c_str()));
  EXPECT_TRUE(env->IsFolder(sub.c_str()));
  uint32_t a = 0;
  ASSERT_EQ(env->GetAttributes(sub.c_str(), &a), 0);
  EXPECT_NE(a & plat::ATTR_DIRECTORY, 0u);
  EXPECT_NE(env->Delete(sub.c_str()), 0);  // Delete takes files only

  const std::string from = sub + "\\a.tmp";
  const std::string to = sub + "\\b.dkd";
  testing_support::WriteFileBytes(dir / "Sub/a.tmp", "new");
  testing_support::WriteFileBytes(dir / "Sub/b.dkd", "old contents");
  EXPECT_TRUE(env->Exists(from.c_str()));
  EXPECT_FALSE(env->IsFolder(from.c_str()));
  ASSERT_EQ(env->Rename(from.c_str(), to.c_str()), 0);  // replaces the target
  EXPECT_FALSE(env->Exists(from.c_str()));
  EXPECT_EQ(testing_support::ReadFileBytes(dir / "Sub/b.dkd"), "new");
  EXPECT_NE(env->Rename(from.c_str(), to.c_str()), 0);

  ASSERT_EQ(env->Delete(to.c_str()), 0);
  EXPECT_FALSE(env->Exists(to.c_str()));
  EXPECT_NE(env->Delete(to.c_str()), 0);
}

// What durable replacement is built from: a copy, a flush, a listing, a
// rename written through and a folder made durable.
TEST(EnvFile, CopyFlushListAndSyncFolder) {
  TempDir dir;
  Env* env = Env::Default();
  std::string big(300000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
  testing_support::WriteFileBytes(dir / "from.dkd", big);
  testing_support::WriteFileBytes(dir / "to.dkd", "old and longer than nothing");
  ASSERT_EQ(env->Copy((dir / "from.dkd").c_str(), (dir / "to.dkd").c_str()), 0);
  EXPECT_EQ(testing_support::ReadFileBytes(dir / "to.dkd"), big);
  EXPECT_NE(env->Copy((dir / "missing").c_str(), (dir / "x").c_str()), 0);
  EXPECT_FALSE(env->Exists((dir / "x").c_str()));

  auto f = OpenOk(dir / "to.dkd", Access::ReadWrite, Share::None, Disposition::OpenExisting);
  ASSERT_TRUE(f);
  WriteAll(f.get(), "new");
  EXPECT_EQ(f->Flush(), 0);
  f.reset();
  EXPECT_EQ(env->SyncFolder(dir.path().c_str()), 0);

  ASSERT_EQ(env->CreateFolder((dir / "Sub").c_str()), 0);
  std::vector<plat::FolderEntry> entries;
  ASSERT_EQ(env->ListFolder(dir.path().c_str(), &entries), 0);
  std::map<std::string, plat::FolderEntry> byName;
  for (const auto& e : entries) byName[e.name] = e;
  ASSERT_EQ(byName.size(), 3u);
  EXPECT_TRUE(byName["Sub"].folder);
  EXPECT_FALSE(byName["from.dkd"].folder);
  EXPECT_EQ(byName["from.dkd"].size, big.size());
  ASSERT_EQ(env->ListFolder((dir / "Sub").c_str(), &entries), 0);
  EXPECT_TRUE(entries.empty());
  EXPECT_NE(env->ListFolder((dir / "none").c_str(), &entries), 0);

  std::string resolved;
  ASSERT_EQ(env->ResolveLink((dir / "to.dkd").c_str(), &resolved), 0);
  EXPECT_EQ(resolved, dir / "to.dkd");  // no link: the path as it is
}

TEST(EnvFile, DriveSystemFolderAndProgramStart) {
  TempDir dir;
  Env* env = Env::Default();
  EXPECT_EQ(env->GetDriveType(dir.path().c_str()), plat::DriveType::Fixed);
  const std::string sys = env->SystemFolder();
  ASSERT_FALSE(sys.empty());
  EXPECT_NE(sys.back(), '\\');
  EXPECT_NE(sys.back(), '/');
  EXPECT_TRUE(env->IsFolder(sys.c_str()));
  const std::string missing = "\"" + (dir / "no such program.exe") + "\" -x";
  EXPECT_NE(env->StartProgram(missing.c_str()), 0);
}

}  // namespace
