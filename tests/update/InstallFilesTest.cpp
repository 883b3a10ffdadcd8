// InstallFiles on sound packages and plain files: what lands on disk, with
// which times, and what the progress dialog is told.
#include <numeric>

#include "platform/testing/FaultEnv.h"
#include "tests/support/RecordingEnv.h"
#include "tests/update/PackageTestKit.h"

namespace pkgtest {
namespace {

using Installs = InstallScene;

TEST_F(Installs, PackedStoredEmptyAndNestedEntries) {
  const std::string text = Text(5000);    // five 1 KiB chunks, packed
  const std::string noise = Noise(2500);  // three chunks, stored
  FileSpec empty = File(pkg::kEmptyName, "", "made\\for\\nothing");
  Built b = Build({File("text.txt", text, "a\\b", true), File("noise.bin", noise), empty,
                   File("zero.dat", ""), File("big.bin", Text(70000), "a", true, 64)});
  Ship("x.pq", b.bytes);

  ASSERT_EQ(0, Install("x.pq"));
  EXPECT_STREQ("", failed);
  EXPECT_EQ(text, Read("a/b/text.txt"));
  EXPECT_EQ(noise, Read("noise.bin"));
  EXPECT_EQ("", Read("zero.dat"));
  EXPECT_EQ(Text(70000), Read("a/big.bin"));
  EXPECT_TRUE(IsFolder("made/for/nothing"));
  EXPECT_FALSE(Exists("made/for/nothing/*EMPTY"));

  // Each installed file is announced once, in directory order; the bytes
  // written add up to the unpacked sizes.
  const std::vector<std::string> announced = {Dest("a\\b\\text.txt"), Dest("noise.bin"),
                                              Dest("zero.dat"), Dest("a\\big.bin")};
  EXPECT_EQ(announced, sink.filesUpdated);
  EXPECT_EQ(4, sink.counters.files);
  EXPECT_EQ(5000 + 2500 + 70000, sink.counters.bytes);
  EXPECT_TRUE(sink.fileErrors.empty());
  EXPECT_GE(sink.pumps, 5 + 3 + 2);  // at least once per chunk
}

TEST_F(Installs, EntryTimesFollowTheHourRule) {
  FileSpec early = File("early.txt", "e");
  FileSpec late = File("late.txt", "l");
  late.time.hour = 14;
  FileSpec four = File("four.txt", "f");
  four.time.hour = 4;
  four.time.minute = 0;
  FileSpec invalid = File("invalid.txt", "i");
  invalid.time.month = 13;  // does not convert: the file keeps the time it was written at
  Ship("t.pq", Build({early, late, four, invalid}).bytes);

  ASSERT_EQ(0, Install("t.pq"));
  const plat::FileTimes e = TimesOf(dest + "/early.txt");
  EXPECT_EQ(FileTimeOf(2001, 6, 15, 2, 30), e.lastWrite);
  EXPECT_EQ(FileTimeOf(2001, 6, 15, 2, 30), e.lastAccess);
  EXPECT_EQ(FileTimeOf(2001, 6, 15, 10, 30), TimesOf(dest + "/late.txt").lastWrite);
  EXPECT_EQ(FileTimeOf(2001, 6, 15, 0, 0), TimesOf(dest + "/four.txt").lastWrite);
  EXPECT_GT(TimesOf(dest + "/invalid.txt").lastWrite, FileTimeOf(2020, 1, 1, 0, 0));
}

TEST_F(Installs, PlainFileIsCopiedWithItsTimesWhateverItsName) {
  const std::string bytes = "QP not a package " + Noise(300000);  // more than two 128 KiB blocks
  Ship("looks.pq", bytes);
  const uint64_t when = FileTimeOf(1999, 12, 31, 23, 59);
  {
    std::unique_ptr<plat::File> f;
    ASSERT_EQ(0, plat::Env::Default()->Open(Source("looks.pq").c_str(), plat::Access::ReadWrite,
                                            plat::Share::None, plat::Disposition::OpenExisting,
                                            plat::ATTR_NORMAL, &f));
    ASSERT_EQ(0, f->SetTimes(plat::FileTimes{when, when, when}));
  }
  ASSERT_EQ(0, Install("looks.pq"));
  EXPECT_EQ(bytes, Read("looks.pq"));
  EXPECT_EQ(when, TimesOf(dest + "/looks.pq").lastWrite);
  EXPECT_EQ(std::vector<std::string>{Dest("looks.pq")}, sink.filesUpdated);
  EXPECT_EQ(static_cast<int32_t>(bytes.size()), sink.counters.bytes);
}

TEST_F(Installs, ShortAndEmptyFilesAreNoPackages) {
  Ship("one", "P");
  Ship("none", "");
  ASSERT_EQ(0, Install("one"));
  ASSERT_EQ(0, Install("none"));
  EXPECT_EQ("P", Read("one"));
  EXPECT_EQ("", Read("none"));
}

TEST_F(Installs, MissingSourceIsAnOpenFailure) {
  EXPECT_EQ(-1, Install("absent.pq"));
  EXPECT_EQ(Source("absent.pq"), failed);
}

// "*WINSYSTEM" sends the entry to the system folder whatever its has-folder
// flag, and no folder is created for it.
class WinSystemEnv : public plat::FaultEnv {
 public:
  WinSystemEnv(std::string folder) : FaultEnv(plat::Env::Default()), folder_(std::move(folder)) {}
  std::string SystemFolder() override { return folder_; }

 private:
  std::string folder_;
};

TEST_F(Installs, WinSystemEntriesGoToTheSystemFolder) {
  const std::string system = tmp / "sys";
  plat::Env::Default()->CreateFolder(system.c_str());
  FileSpec flagged = File("lib1.dll", "one", pkg::kSystemFolderName);
  FileSpec unflagged = File("lib2.dll", "two", pkg::kSystemFolderName);
  unflagged.hasFolder = false;
  Ship("s.pq", Build({flagged, unflagged}).bytes);

  WinSystemEnv env(system);
  plat::SetDefaultEnv(&env);
  const int rc = Install("s.pq");
  plat::SetDefaultEnv(nullptr);
  ASSERT_EQ(0, rc);
  EXPECT_EQ("one", testing_support::ReadFileBytes(system + "/lib1.dll"));
  EXPECT_EQ("two", testing_support::ReadFileBytes(system + "/lib2.dll"));
  EXPECT_FALSE(Exists("*WINSYSTEM"));
  EXPECT_EQ(system + "\\lib1.dll", sink.filesUpdated.at(0));
}

TEST_F(Installs, FolderThatCannotBeCreatedIsNamed) {
  testing_support::WriteFileBytes(dest + "/a", "a file where a folder should be");
  Ship("f.pq", Build({File("x.txt", "x", "a\\b\\c")}).bytes);
  EXPECT_EQ(-5, Install("f.pq"));
  EXPECT_EQ(Dest("a"), failed);  // the file "a" stands where the first folder goes
}

// Failures of the system calls, each with its code and the path it
// concerns. The entry's old file stays whole and no temporary is left; only
// a failed folder sync comes after the new file is in place.
struct FaultCase {
  plat::FaultKind kind;
  int nth;
  int code;
  bool destination;  // else the source
  bool replaced;
};

TEST_F(Installs, SystemFailuresGiveTheirCodes) {
  const FaultCase cases[] = {
      {plat::FaultKind::Open, 1, -1, false, false},   // the package
      {plat::FaultKind::Read, 1, -2, false, false},   // its "PQ"
      {plat::FaultKind::Read, 3, -2, false, false},   // the directory
      {plat::FaultKind::Open, 2, -8, true, false},    // the entry's file, held by another program
      {plat::FaultKind::Open, 3, -8, true, false},    // the temporary beside it
      {plat::FaultKind::Write, 2, -6, true, false},   // its second chunk
      {plat::FaultKind::Flush, 1, -6, true, false},   // the new bytes to the disk
      {plat::FaultKind::Rename, 1, -8, true, false},  // over the old file
      {plat::FaultKind::SyncFolder, 1, -6, true, true},  // the rename to the disk
  };
  Ship("p.pq", Build({File("f.bin", Text(3000), "", true)}).bytes);
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind) * 100 + c.nth);
    testing_support::WriteFileBytes(dest + "/f.bin", "old");
    plat::FaultEnv env(plat::Env::Default());
    env.FailNth(c.kind, c.nth, 5);
    plat::SetDefaultEnv(&env);
    const int rc = Install("p.pq");
    plat::SetDefaultEnv(nullptr);
    EXPECT_EQ(c.code, rc);
    EXPECT_EQ(c.destination ? Dest("f.bin") : Source("p.pq"), failed);
    EXPECT_EQ(c.replaced ? Text(3000) : "old", Read("f.bin"));
    EXPECT_EQ(std::vector<std::string>{"f.bin"}, testing_support::FolderNames(dest));
  }
}

// Every file of a package and a plain file reach the disk flushed before
// their rename and with their folder synced after it.
TEST_F(Installs, EachFileIsFlushedRenamedAndSynced) {
  Ship("d.pq", Build({File("a.txt", Text(3000), "sub", true), File("b.txt", Noise(100))}).bytes);
  Ship("plain.bin", Noise(1000));
  testing_support::WriteFileBytes(dest + "/b.txt", "old b");
  testing_support::RecordingEnv env(plat::Env::Default());
  plat::SetDefaultEnv(&env);
  const int package = Install("d.pq");
  const int plain = Install("plain.bin");
  plat::SetDefaultEnv(nullptr);
  ASSERT_EQ(0, package);
  ASSERT_EQ(0, plain);
  EXPECT_EQ(Noise(100), Read("b.txt"));
  EXPECT_EQ(3, testing_support::Renames(env.events));
  EXPECT_EQ(std::vector<std::string>{}, testing_support::UnsafeRenames(env.events));
  EXPECT_EQ((std::vector<std::string>{"b.txt", "plain.bin", "sub"}),
            testing_support::FolderNames(dest));
}

TEST_F(Installs, AFileHeldOpenIsNotReplaced) {
  Ship("h.pq", Build({File("held.txt", "new")}).bytes);
  testing_support::WriteFileBytes(dest + "/held.txt", "old");
  std::unique_ptr<plat::File> held;
  ASSERT_EQ(
      0, plat::Env::Default()->Open((dest + "/held.txt").c_str(), plat::Access::ReadWrite,
                                    plat::Share::None, plat::Disposition::OpenExisting, 0, &held));
  EXPECT_EQ(-8, Install("h.pq"));
  held.reset();
  EXPECT_EQ(Dest("held.txt"), failed);
  EXPECT_EQ("old", Read("held.txt"));
  EXPECT_EQ(std::vector<std::string>{"held.txt"}, testing_support::FolderNames(dest));
}

TEST_F(Installs, PlainCopyWriteFailureNamesTheDestination) {
  Ship("plain.bin", Noise(200000));
  plat::FaultEnv env(plat::Env::Default());
  env.SetWriteBudget(150000);
  plat::SetDefaultEnv(&env);
  const int rc = Install("plain.bin");
  plat::SetDefaultEnv(nullptr);
  EXPECT_EQ(-6, rc);
  EXPECT_EQ(Dest("plain.bin"), failed);
  EXPECT_TRUE(sink.filesUpdated.empty());
}

// The install looks at the cancel flag between blocks: the file it is
// writing keeps its old bytes, no temporary is left, later entries are not
// installed, and UpdateFile reports the break.
TEST_F(Installs, CancelInTheMiddleOfAFileKeepsItsOldBytes) {
  Ship("c.pq", Build({File("a.txt", Text(4000), "", true), File("b.txt", Text(10))}).bytes);
  testing_support::WriteFileBytes(dest + "/a.txt", "old a");
  sink.cancelAtPump = 5;  // two in UpdateFile, two before the first chunk, then the first chunk's
  EXPECT_EQ(-1, UpdateFile(sink, "c.pq", updater.c_str(), dest.c_str(), 2));
  EXPECT_EQ("old a", Read("a.txt"));
  EXPECT_EQ(std::vector<std::string>{"a.txt"}, testing_support::FolderNames(dest));
  ASSERT_EQ(1u, sink.errors.size());
  EXPECT_EQ(2, sink.errors[0].message);  // "User`s break "
  EXPECT_TRUE(sink.fileErrors.empty());
  EXPECT_TRUE(sink.filesUpdated.empty());

  // A plain file likewise.
  Ship("plain.bin", Noise(300000));
  testing_support::WriteFileBytes(dest + "/plain.bin", "old plain");
  testing_support::RecordingSink plain;
  plain.cancelAtPump = 4;  // after the first block was written
  EXPECT_EQ(-1, UpdateFile(plain, "plain.bin", updater.c_str(), dest.c_str(), 2));
  EXPECT_EQ("old plain", Read("plain.bin"));
  EXPECT_EQ((std::vector<std::string>{"a.txt", "plain.bin"}), testing_support::FolderNames(dest));
  ASSERT_EQ(1u, plain.errors.size());
  EXPECT_EQ(2, plain.errors[0].message);
}

TEST_F(Installs, UpdateFileSummarisesTheFilesAndBytesInstalled) {
  Ship("u.pq", Build({File("a.txt", Text(3000), "d", true), File(pkg::kEmptyName, "", "e"),
                      File("b.txt", Noise(1500))})
                   .bytes);
  sink.counters.files = 7;  // the counters are run-wide: only the change counts
  sink.counters.bytes = 100;
  ASSERT_EQ(0, UpdateFile(sink, "u.pq", updater.c_str(), dest.c_str(), 2));
  ASSERT_FALSE(sink.log.empty());
  EXPECT_EQ("Files updated - 2, Bytes updated = 4500  ", sink.log.back());
}

TEST_F(Installs, DamagedPackageIsReportedThroughUpdateFile) {
  Built b = Build({File("a.txt", "abc")});
  PutU32(b.bytes, b.bytes.size() - 8, 0x7FFFFFF0);
  Ship("bad.pq", b.bytes);
  EXPECT_EQ(-1, UpdateFile(sink, "bad.pq", updater.c_str(), dest.c_str(), 2));
  ASSERT_EQ(1u, sink.fileErrors.size());
  EXPECT_EQ(-2, sink.fileErrors[0].code);
  EXPECT_EQ(Source("bad.pq"), sink.fileErrors[0].name);
}

}  // namespace
}  // namespace pkgtest
