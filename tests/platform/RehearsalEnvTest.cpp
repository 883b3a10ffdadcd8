#include "platform/RehearsalEnv.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "tests/support/TestPaths.h"

namespace {

using plat::Access;
using plat::Disposition;
using plat::File;
using plat::Share;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

// Every entry below root: path -> bytes, "/" for a folder.
std::map<std::string, std::string> Disk(const std::string& root) {
  std::map<std::string, std::string> tree;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    tree[e.path().string()] = e.is_directory() ? "/" : ReadFileBytes(e.path().string());
  }
  return tree;
}

std::string Read(plat::Env& env, const std::string& path) {
  std::unique_ptr<File> f;
  if (env.Open(path.c_str(), Access::Read, Share::Read, Disposition::OpenExisting, 0, &f) != 0)
    return "<none>";
  std::string bytes(64, '\0');
  uint32_t got = 0;
  EXPECT_EQ(f->Read(&bytes[0], 64, &got), 0);
  bytes.resize(got);
  return bytes;
}

// Each way the update operations write goes to memory; the Env reads it
// back, names it in Changes, and the disk stays as it was.
TEST(RehearsalEnv, KeepsEveryWriteInMemoryAndReadsItBack) {
  TempDir dir;
  WriteFileBytes(dir / "keep.txt", "keep");
  WriteFileBytes(dir / "edit.txt", "old");
  WriteFileBytes(dir / "gone.txt", "gone");
  WriteFileBytes(dir / "same.txt", "same");
  const auto disk = Disk(dir.path());
  plat::RehearsalEnv env(plat::BackendEnv());

  std::unique_ptr<File> f;
  uint32_t put = 0;
  // Written in place, through a different spelling of its name.
  ASSERT_EQ(env.Open((dir / "EDIT.TXT").c_str(), Access::ReadWrite, Share::None,
                     Disposition::OpenExisting, 0, &f),
            0);
  ASSERT_EQ(f->Seek(3), 0);
  ASSERT_EQ(f->Write("er", 2, &put), 0);
  // Mapped, grown and written, as a store's files are.
  std::unique_ptr<plat::Mapping> view;
  ASSERT_EQ(env.Map(f.get(), true, 8, &view), 0);
  ASSERT_EQ(view->Grow(11), 0);
  std::memcpy(view->Data() + 5, "mapped", 6);
  view.reset();
  f.reset();
  // Made in a new folder, copied, renamed over another file, deleted.
  ASSERT_EQ(env.CreateFolder((dir / "new").c_str()), 0);
  ASSERT_EQ(env.Copy((dir / "keep.txt").c_str(), (dir / "new/copy.txt").c_str()), 0);
  ASSERT_EQ(env.Rename((dir / "new/copy.txt").c_str(), (dir / "same.txt").c_str()), 0);
  ASSERT_EQ(env.Delete((dir / "gone.txt").c_str()), 0);
  ASSERT_EQ(env.SetAttributes((dir / "keep.txt").c_str(), plat::ATTR_READONLY), 0);
  // A file read from the disk can be neither written nor given new times.
  ASSERT_EQ(env.Open((dir / "keep.txt").c_str(), Access::Read, Share::Read,
                     Disposition::OpenExisting, 0, &f),
            0);
  EXPECT_NE(f->Write("x", 1, &put), 0);
  EXPECT_NE(f->SetTimes(plat::FileTimes{1, 1, 1}), 0);
  f.reset();
  EXPECT_EQ(env.StartProgram("MX.exe "), 0);

  EXPECT_EQ("oldermapped", Read(env, dir / "edit.txt"));
  EXPECT_EQ("keep", Read(env, dir / "same.txt"));
  EXPECT_EQ("<none>", Read(env, dir / "gone.txt"));
  EXPECT_EQ("<none>", Read(env, dir / "new/copy.txt"));
  EXPECT_TRUE(env.IsFolder((dir / "new").c_str()));
  uint32_t attributes = 0;
  EXPECT_EQ(env.GetAttributes((dir / "keep.txt").c_str(), &attributes), 0);
  EXPECT_EQ(plat::ATTR_READONLY, attributes);
  EXPECT_NE(env.Open((dir / "keep.txt").c_str(), Access::ReadWrite, Share::Read,
                     Disposition::OpenExisting, 0, &f),
            0);
  std::vector<plat::FolderEntry> entries;
  ASSERT_EQ(env.ListFolder(dir.path().c_str(), &entries), 0);
  std::map<std::string, bool> listed;
  for (const auto& e : entries) listed[e.name] = e.folder;
  EXPECT_EQ((std::map<std::string, bool>{
                {"edit.txt", false}, {"keep.txt", false}, {"new", true}, {"same.txt", false}}),
            listed);

  std::map<std::string, int> changes;
  for (const auto& c : env.Changes()) {
    std::string name = c.path.substr(dir.path().size());  // as first named: EDIT.TXT on Windows
    for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    changes[name] = c.kind;
  }
  using Change = plat::RehearsalEnv::Change;
  EXPECT_EQ((std::map<std::string, int>{{"edit.txt", Change::kReplaced},
                                        {"gone.txt", Change::kDeleted},
                                        {"new", Change::kFolderCreated},
                                        {"same.txt", Change::kReplaced}}),
            changes);
  EXPECT_EQ(std::vector<std::string>{"MX.exe "}, env.Programs());
  EXPECT_EQ(disk, Disk(dir.path()));
}

}  // namespace
