// File replacement: the common part of UpdateFile and operation 0.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/Env.h"
#include "platform/NativePath.h"
#include "platform/testing/FaultEnv.h"
#include "tests/support/RecordingEnv.h"
#include "tests/support/RecordingSink.h"
#include "tests/support/TestPaths.h"
#include "update/FileReplacement.h"
#include "update/FolderPath.h"
#include "update/Operations.h"

using testing_support::FolderNames;
using testing_support::ReadFileBytes;
using testing_support::RecordingSink;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

std::string Shown(const std::string& path) { return plat::ShownPath(path.c_str()); }

const char kRule[] = "===========================================================================";

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
  return s;
}

plat::FileTimes TimesOf(const std::string& path) {
  std::unique_ptr<plat::File> f;
  EXPECT_EQ(0, plat::Env::Default()->Open(path.c_str(), plat::Access::Read, plat::Share::Read,
                                          plat::Disposition::OpenExisting, 0, &f));
  plat::FileTimes t;
  if (f) {
    EXPECT_EQ(0, f->GetTimes(&t));
  }
  return t;
}

void SetTimes(const std::string& path, const plat::FileTimes& t) {
  std::unique_ptr<plat::File> f;
  ASSERT_EQ(0, plat::Env::Default()->Open(path.c_str(), plat::Access::ReadWrite, plat::Share::None,
                                          plat::Disposition::OpenExisting, 0, &f));
  ASSERT_EQ(0, f->SetTimes(t));
}

struct Fixture {
  TempDir dir;
  std::string dist = dir / "dist";  // the updater folder, without a separator
  std::string game = dir / "game\\";
  Fixture() {
    EXPECT_EQ(0, plat::Env::Default()->CreateFolder(dist.c_str()));
    EXPECT_EQ(0, plat::Env::Default()->CreateFolder((dir / "game").c_str()));
  }
  std::string Shipped(const std::string& name, const std::string& bytes) {
    WriteFileBytes(dist + "/" + name, bytes);
    return dist + "\\" + name;  // the source as UpdateFile composes it
  }
};

TEST(UpdateFileCopy, CopiesInBlocksAndLogsCountsAndTimes) {
  Fixture f;
  const std::string bytes = Pattern(524288 * 2 + 1000);  // two full blocks and a part
  const std::string source = f.Shipped("UNITS.DAT", bytes);
  plat::FileTimes when;
  when.lastAccess = 130000000000000000ull;  // 2012-12-14, in 100 ns units
  when.lastWrite = 129000000000000000ull;
  SetTimes(f.dist + "/UNITS.DAT", when);

  RecordingSink ui;
  ui.counters.bytes = 10;  // the run counters carry on from earlier files
  ASSERT_EQ(0, UpdateFile(ui, "UNITS.DAT", f.dist.c_str(), f.game.c_str(), 0));

  const std::string dest = f.game + "UNITS.DAT";
  // Times first: reading a file may move its access time (relatime).
  plat::FileTimes got = TimesOf(f.dir / "game/UNITS.DAT");
  plat::FileTimes sourceTimes = TimesOf(f.dist + "/UNITS.DAT");
  EXPECT_EQ(bytes, ReadFileBytes(f.dir / "game/UNITS.DAT"));
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_EQ(1, ui.counters.files);
  EXPECT_EQ(10 + static_cast<int32_t>(bytes.size()), ui.counters.bytes);

  ASSERT_EQ(4u, ui.log.size());
  EXPECT_EQ(kRule, ui.log[0]);
  // The log names paths in the system's own form.
  EXPECT_EQ("Destination : " + Shown(dest), ui.log[1]);
  EXPECT_EQ("Source : " + Shown(source), ui.log[2]);
  EXPECT_EQ("Copyed bytes - " + std::to_string(bytes.size()), ui.log[3]);

  // The texts once, then the byte counter after every block and after the final empty read.
  ASSERT_EQ(5u, ui.progress.size());
  EXPECT_EQ(1, ui.progress[0].files);
  EXPECT_EQ(-1, ui.progress[0].bytes);
  EXPECT_EQ(-1, ui.progress[0].units);
  EXPECT_EQ(source, ui.progress[0].source);
  EXPECT_EQ(dest, ui.progress[0].destination);
  const int32_t expected[] = {10 + 524288, 10 + 2 * 524288, 10 + static_cast<int32_t>(bytes.size()),
                              10 + static_cast<int32_t>(bytes.size())};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(expected[i], ui.progress[i + 1].bytes) << i;
    EXPECT_EQ(-1, ui.progress[i + 1].files);
    EXPECT_FALSE(ui.progress[i + 1].hasSource || ui.progress[i + 1].hasDestination);
  }

  EXPECT_EQ(when.lastWrite, got.lastWrite);
  // Reading the source may itself move its access time (relatime): the copy
  // takes the times the source has after it was read.
  EXPECT_EQ(sourceTimes.lastAccess, got.lastAccess);
}

TEST(UpdateFileCopy, EmptySourceAndReadOnlyDestination) {
  Fixture f;
  f.Shipped("EMPTY.TXT", "");
  const std::string dest = f.dir / "game/EMPTY.TXT";
  WriteFileBytes(dest, "old contents");
  ASSERT_EQ(0, plat::Env::Default()->SetAttributes(dest.c_str(), plat::ATTR_READONLY));

  RecordingSink ui;
  ASSERT_EQ(0, UpdateFile(ui, "EMPTY.TXT", f.dist.c_str(), f.game.c_str(), 0));
  EXPECT_EQ("", ReadFileBytes(dest));
  ASSERT_EQ(2u, ui.progress.size());  // the texts, then one with the unchanged byte counter
  EXPECT_EQ(0, ui.progress[1].bytes);
  EXPECT_EQ("Copyed bytes - 0", ui.log.back());
  uint32_t attributes = 0;
  ASSERT_EQ(0, plat::Env::Default()->GetAttributes(dest.c_str(), &attributes));
  EXPECT_EQ(0u, attributes & plat::ATTR_READONLY);
}

TEST(UpdateFileCopy, CreatesMissingFoldersAndNamesTheFirstThatFails) {
  Fixture f;
  f.Shipped("A.TXT", "abc");
  RecordingSink ui;
  const std::string deep = f.game + "DATA\\MAPS\\";
  ASSERT_EQ(0, UpdateFile(ui, "A.TXT", f.dist.c_str(), deep.c_str(), 0));
  EXPECT_EQ("abc", ReadFileBytes(f.dir / "game/DATA/MAPS/A.TXT"));

  // A file stands where a folder must be made: the message names that
  // folder, not the whole path, and nothing is logged after the rule.
  WriteFileBytes(f.dir / "game/BLOCK", "x");
  RecordingSink ui2;
  const std::string blocked = f.game + "BLOCK\\SUB\\";
  EXPECT_EQ(-1, UpdateFile(ui2, "A.TXT", f.dist.c_str(), blocked.c_str(), 0));
  ASSERT_EQ(1u, ui2.errors.size());
  EXPECT_EQ(28, ui2.errors[0].message);
  EXPECT_EQ(f.game + "BLOCK", ui2.errors[0].extra);
  EXPECT_EQ(std::vector<std::string>{kRule}, ui2.log);
  EXPECT_EQ(0, ui2.counters.files);
}

TEST(UpdateFileCopy, MissingSourceIsAnOpenError) {
  Fixture f;
  RecordingSink ui;
  EXPECT_EQ(-1, UpdateFile(ui, "NONE.DAT", f.dist.c_str(), f.game.c_str(), 0));
  ASSERT_EQ(1u, ui.errors.size());
  EXPECT_EQ(3, ui.errors[0].message);
  EXPECT_EQ(0, ui.errors[0].number);
  EXPECT_EQ(f.dist + "\\NONE.DAT", ui.errors[0].extra);
  EXPECT_FALSE(plat::Env::Default()->Exists((f.dir / "game/NONE.DAT").c_str()));
}

// A Cancel at any check point before the end leaves the old file as it was
// and no temporary beside it.
TEST(UpdateFileCopy, CancelIsSeenAtEachCheckPoint) {
  // Pumps before the first check point: two around the first progress
  // message. 7 comes after the first block was written.
  for (int pump : {3, 4, 5, 7, 9}) {
    Fixture f;
    f.Shipped("B.DAT", Pattern(524288 + 1000));
    WriteFileBytes(f.dir / "game/B.DAT", "old B");
    RecordingSink ui;
    ui.cancelAtPump = pump;
    EXPECT_EQ(-1, UpdateFile(ui, "B.DAT", f.dist.c_str(), f.game.c_str(), 0)) << pump;
    ASSERT_EQ(1u, ui.errors.size()) << pump;
    EXPECT_EQ(2, ui.errors[0].message);
    EXPECT_EQ("", ui.errors[0].extra);
    EXPECT_EQ("old B", ReadFileBytes(f.dir / "game/B.DAT")) << pump;
    EXPECT_EQ(std::vector<std::string>{"B.DAT"}, FolderNames(f.dir / "game")) << pump;
    EXPECT_NE("Copyed bytes - 525288", ui.log.back());
  }
  // The last check point comes after the summary line, the file replaced.
  Fixture f;
  f.Shipped("B.DAT", Pattern(1000));
  RecordingSink probe;
  ASSERT_EQ(0, UpdateFile(probe, "B.DAT", f.dist.c_str(), f.game.c_str(), 0));
  RecordingSink ui;
  ui.cancelAtPump = probe.pumps;
  EXPECT_EQ(-1, UpdateFile(ui, "B.DAT", f.dist.c_str(), f.game.c_str(), 0));
  EXPECT_EQ("Copyed bytes - 1000", ui.log.back());
  ASSERT_EQ(1u, ui.errors.size());
  EXPECT_EQ(2, ui.errors[0].message);
  EXPECT_EQ(Pattern(1000), ReadFileBytes(f.dir / "game/B.DAT"));
}

struct FaultScope {
  plat::FaultEnv env{plat::BackendEnv()};
  FaultScope() { plat::SetDefaultEnv(&env); }
  ~FaultScope() { plat::SetDefaultEnv(nullptr); }
};

// Each failure gives its message and leaves the old file whole and no
// temporary; only a failed folder sync comes after the new file is in place.
TEST(UpdateFileCopy, FailuresOfTheFileCallsGiveTheirMessages) {
  struct Case {
    plat::FaultKind kind;
    int nth;
    int message;
    bool namesSource;
    bool replaced;
  } cases[] = {
      {plat::FaultKind::Write, 2, 6, false, false},      // the second block cannot be written
      {plat::FaultKind::Read, 1, 5, true, false},        // the first read
      {plat::FaultKind::Read, 3, 5, true, false},        // a later read
      {plat::FaultKind::Open, 1, 3, true, false},        // the source
      {plat::FaultKind::Open, 2, 3, false, false},       // the destination, held by another program
      {plat::FaultKind::Open, 3, 3, false, false},       // the temporary beside it
      {plat::FaultKind::Open, 4, 5, true, false},        // the source again, for its times
      {plat::FaultKind::Flush, 1, 6, false, false},      // the new bytes to the disk
      {plat::FaultKind::Rename, 1, 3, false, false},     // over the destination
      {plat::FaultKind::SyncFolder, 1, 6, false, true},  // the rename to the disk
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind) * 100 + c.nth);
    Fixture f;
    const std::string source = f.Shipped("C.DAT", Pattern(524288 + 5));
    WriteFileBytes(f.dir / "game/C.DAT", "old C");
    RecordingSink ui;
    int result;
    {
      FaultScope faults;
      faults.env.FailNth(c.kind, c.nth, 5);
      result = UpdateFile(ui, "C.DAT", f.dist.c_str(), f.game.c_str(), 0);
    }
    EXPECT_EQ(-1, result);
    ASSERT_EQ(1u, ui.errors.size());
    EXPECT_EQ(c.message, ui.errors[0].message);
    EXPECT_EQ(c.namesSource ? source : f.game + "C.DAT", ui.errors[0].extra);
    EXPECT_EQ(c.replaced ? Pattern(524288 + 5) : "old C", ReadFileBytes(f.dir / "game/C.DAT"));
    EXPECT_EQ(std::vector<std::string>{"C.DAT"}, FolderNames(f.dir / "game"));
  }
}

TEST(UpdateFileCopy, AFullDiskIsAShortWrite) {
  Fixture f;
  f.Shipped("D.DAT", Pattern(4000));
  RecordingSink ui;
  {
    FaultScope faults;
    faults.env.SetWriteBudget(1000);
    EXPECT_EQ(-1, UpdateFile(ui, "D.DAT", f.dist.c_str(), f.game.c_str(), 0));
  }
  ASSERT_EQ(1u, ui.errors.size());
  EXPECT_EQ(6, ui.errors[0].message);
  EXPECT_EQ(0, ui.counters.bytes);  // a failed block is not counted
}

// Every rename of a replacement follows the flush of its data and is
// followed by the sync of its folder; a temporary that an interrupted run
// left (read-only even) is removed before the file is written again.
TEST(UpdateFileReplace, DurableOrderAndStrayTemporary) {
  Fixture f;
  f.Shipped("F.DAT", Pattern(3000));
  const std::string dest = f.dir / "game/F.DAT";
  WriteFileBytes(dest, "old F");
  char stray[kPathField];
  ASSERT_TRUE(FileReplacement::TemporaryPath(dest.c_str(), stray));
  WriteFileBytes(stray, "half of an earlier run");
  ASSERT_EQ(0, plat::Env::Default()->SetAttributes(stray, plat::ATTR_READONLY));

  RecordingSink ui;
  testing_support::RecordingEnv env(plat::Env::Default());
  plat::SetDefaultEnv(&env);
  const int rc = UpdateFile(ui, "F.DAT", f.dist.c_str(), f.game.c_str(), 0);
  plat::SetDefaultEnv(nullptr);
  ASSERT_EQ(0, rc);
  EXPECT_EQ(Pattern(3000), ReadFileBytes(dest));
  EXPECT_EQ(std::vector<std::string>{"F.DAT"}, FolderNames(f.dir / "game"));
  EXPECT_EQ(1, testing_support::Renames(env.events));
  EXPECT_EQ(std::vector<std::string>{}, testing_support::UnsafeRenames(env.events));

  // The check itself: data renamed unflushed into a folder never synced.
  using Event = testing_support::RecordingEnv::Event;
  EXPECT_EQ(
      2u,
      testing_support::UnsafeRenames({{Event::Write, "a", ""}, {Event::Rename, "a", "b"}}).size());
}

TEST(UpdateFileReplace, ADestinationHeldOpenIsAnOpenError) {
  Fixture f;
  f.Shipped("G.DAT", "new G");
  const std::string dest = f.dir / "game/G.DAT";
  WriteFileBytes(dest, "old G");
  std::unique_ptr<plat::File> held;
  ASSERT_EQ(0, plat::Env::Default()->Open(dest.c_str(), plat::Access::ReadWrite, plat::Share::None,
                                          plat::Disposition::OpenExisting, 0, &held));
  RecordingSink ui;
  EXPECT_EQ(-1, UpdateFile(ui, "G.DAT", f.dist.c_str(), f.game.c_str(), 0));
  held.reset();
  ASSERT_EQ(1u, ui.errors.size());
  EXPECT_EQ(3, ui.errors[0].message);
  EXPECT_EQ(f.game + "G.DAT", ui.errors[0].extra);
  EXPECT_EQ("old G", ReadFileBytes(dest));
  EXPECT_EQ(std::vector<std::string>{"G.DAT"}, FolderNames(f.dir / "game"));
}

// The link stays a link and its target gets the new bytes.
TEST(UpdateFileReplace, ALinkIsReplacedAtItsTarget) {
  Fixture f;
  f.Shipped("L.DAT", "new L");
  ASSERT_EQ(0, plat::Env::Default()->CreateFolder((f.dir / "real").c_str()));
  WriteFileBytes(f.dir / "real/l.dat", "old L");
  std::error_code ec;
  std::filesystem::create_symlink("../real/l.dat", f.dir / "game/L.DAT", ec);
  if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();

  RecordingSink ui;
  ASSERT_EQ(0, UpdateFile(ui, "L.DAT", f.dist.c_str(), f.game.c_str(), 0));
  EXPECT_TRUE(std::filesystem::is_symlink(f.dir / "game/L.DAT"));
  EXPECT_EQ("new L", ReadFileBytes(f.dir / "real/l.dat"));
  EXPECT_EQ(std::vector<std::string>{"L.DAT"}, FolderNames(f.dir / "game"));
  EXPECT_EQ(std::vector<std::string>{"l.dat"}, FolderNames(f.dir / "real"));
}

TEST(UpdateFileOther, StoreAndInstallOperationsKeepTheirOwnPaths) {
  Fixture f;
  RecordingSink store;
  EXPECT_EQ(-1, UpdateFile(store, "MISSING.DKX", f.dist.c_str(), f.game.c_str(), 1));
  EXPECT_EQ("Destination : " + Shown(f.game + "MISSING.DKX"), store.log[1]);
  EXPECT_EQ(1, store.counters.files);  // counted before the store is opened
  EXPECT_FALSE(plat::Env::Default()->Exists((f.game + "MISSING.DKX").c_str()));
  EXPECT_EQ(1u, store.errors.size() + store.fileErrors.size());

  // Any other number installs into the folder: the logged destination is the
  // folder alone, no folder is made here, and a failure goes to FileError.
  RecordingSink install;
  const std::string folder = f.game + "NEW\\";
  EXPECT_EQ(-1, UpdateFile(install, "MISSING.PQ", f.dist.c_str(), folder.c_str(), 7));
  EXPECT_EQ("Destination : " + Shown(folder), install.log[1]);
  EXPECT_EQ("Source : " + Shown(f.dist + "\\MISSING.PQ"), install.log[2]);
  EXPECT_EQ(0, install.counters.files);
  ASSERT_EQ(1u, install.fileErrors.size());
  EXPECT_LT(install.fileErrors[0].code, 0);
  EXPECT_GE(install.fileErrors[0].code, -8);
  EXPECT_TRUE(install.errors.empty());
}

TEST(UpdateFilePaths, OverlongPathsAreRefusedNotCut) {
  Fixture f;
  f.Shipped("E.DAT", "e");
  RecordingSink ui;
  std::string longFolder = f.game + std::string(250, 'x') + "\\";
  EXPECT_EQ(-1, UpdateFile(ui, "E.DAT", f.dist.c_str(), longFolder.c_str(), 0));
  ASSERT_EQ(1u, ui.errors.size());
  EXPECT_EQ(3, ui.errors[0].message);
  EXPECT_EQ(0, ui.counters.files);

  // A destination too long for the temporary's suffix is written under a
  // short name in its folder; a name that is that short name has none.
  RecordingSink fits;
  const std::string name(257 - f.game.size() - 6, 'y');
  const std::string folder = f.game + name + "\\";
  ASSERT_EQ(257u, (folder + "E.DAT").size());
  ASSERT_EQ(0, UpdateFile(fits, "E.DAT", f.dist.c_str(), folder.c_str(), 0));
  EXPECT_EQ("e", ReadFileBytes(f.dir / "game/" + name + "/E.DAT"));
  EXPECT_EQ(std::vector<std::string>{"E.DAT"}, FolderNames(folder));
  char temporary[kPathField];
  EXPECT_FALSE(FileReplacement::TemporaryPath((folder + "~UPD").c_str(), temporary));
}

TEST(FolderPath, CreateFolderPathAndAddBackslash) {
  TempDir dir;
  std::string base = dir.path().substr(0, dir.path().size() - 1);
  char path[kPathField];
  std::snprintf(path, sizeof path, "%s\\one\\two\\three", base.c_str());
  testing_support::RecordingEnv recording(plat::Env::Default());
  plat::SetDefaultEnv(&recording);
  const bool created = CreateFolderPath(path);
  plat::SetDefaultEnv(nullptr);
  ASSERT_TRUE(created);
  EXPECT_TRUE(plat::Env::Default()->IsFolder((dir / "one/two").c_str()));
  // Each new folder is made durable in its parent.
  std::vector<std::string> synced;
  for (const auto& e : recording.events) {
    if (e.kind == testing_support::RecordingEnv::Event::SyncFolder) synced.push_back(e.path);
  }
  EXPECT_EQ((std::vector<std::string>{base + "\\", base + "\\one\\"}), synced);
  EXPECT_FALSE(
      plat::Env::Default()->Exists((dir / "one/two/three").c_str()));  // after the last backslash

  char text[8] = "";
  ASSERT_TRUE(AddBackslash(text, sizeof text));
  EXPECT_STREQ("\\", text);
  ASSERT_TRUE(AddBackslash(text, sizeof text));
  EXPECT_STREQ("\\", text);
  char full[4] = "abc";
  EXPECT_FALSE(AddBackslash(full, sizeof full));
  EXPECT_STREQ("abc", full);
}

}  // namespace
