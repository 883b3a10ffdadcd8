// Path rules that only the POSIX backend has: Windows-style paths from the
// core reach files whose names differ in separators and letter case.
#include "platform/Env.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/CodePage.h"
#include "platform/NativePath.h"
#include "platform/Registry.h"
#include "tests/support/TestPaths.h"

namespace {

using plat::Access;
using plat::Disposition;
using plat::DriveType;
using plat::Env;
using plat::File;
using plat::Share;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

bool OnDisk(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

TEST(EnvPathPosix, BackslashesAndLetterCaseOfExistingComponents) {
  TempDir dir;
  ASSERT_EQ(mkdir((dir / "data").c_str(), 0777), 0);
  WriteFileBytes(dir / "data/units.dkx", "units");
  Env* env = Env::Default();
  const std::string windowsStyle = dir.path() + "DATA\\UNITS.DKX";

  EXPECT_TRUE(env->Exists(windowsStyle.c_str()));
  EXPECT_TRUE(env->IsFolder((dir.path() + "Data\\").c_str()));
  std::unique_ptr<File> f;
  ASSERT_EQ(env->Open(windowsStyle.c_str(), Access::ReadWrite, Share::None, Disposition::OpenAlways,
                      0, &f),
            0);
  uint64_t size = 0;
  ASSERT_EQ(f->Size(&size), 0);
  EXPECT_EQ(size, 5u);  // the existing file, not a new one
  f.reset();

  // A new name is created as written, inside the folder found by case.
  const std::string created = dir.path() + "DATA\\New.Dkd";
  ASSERT_EQ(
      env->Open(created.c_str(), Access::ReadWrite, Share::None, Disposition::CreateAlways, 0, &f),
      0);
  f.reset();
  EXPECT_TRUE(OnDisk(dir / "data/New.Dkd"));
  EXPECT_FALSE(OnDisk(dir / "DATA"));

  ASSERT_EQ(env->CreateFolder((dir.path() + "DATA\\Sub").c_str()), 0);
  EXPECT_TRUE(OnDisk(dir / "data/Sub"));
  ASSERT_EQ(env->Rename((dir.path() + "data\\NEW.DKD").c_str(),
                        (dir.path() + "DATA\\SUB\\moved").c_str()),
            0);
  EXPECT_TRUE(OnDisk(dir / "data/Sub/moved"));
  ASSERT_EQ(env->Delete((dir.path() + "DATA\\sub\\MOVED").c_str()), 0);
  EXPECT_FALSE(OnDisk(dir / "data/Sub/moved"));

  EXPECT_FALSE(env->Exists((dir.path() + "DATA\\missing\\UNITS.DKX").c_str()));
}

TEST(EnvPathPosix, AmongSeveralCaseMatchesTheSmallestNameWins) {
  TempDir dir;
  WriteFileBytes(dir / "readme.TXT", "lower");
  WriteFileBytes(dir / "README.txt", "upper");
  std::unique_ptr<File> f;
  ASSERT_EQ(Env::Default()->Open((dir.path() + "Readme.Txt").c_str(), Access::Read, Share::Read,
                                 Disposition::OpenExisting, 0, &f),
            0);
  char buf[8] = {};
  uint32_t got = 0;
  ASSERT_EQ(f->Read(buf, sizeof buf, &got), 0);
  EXPECT_EQ(std::string(buf, got), "upper");
}

// A destination that is a symbolic link is written at its target; a dangling
// one used to make Open loop for ever between "missing" and "exists".
TEST(EnvPathPosix, LinksAreFollowedToTheirTargetEvenWhenDangling) {
  TempDir dir;
  Env* env = Env::Default();
  ASSERT_EQ(mkdir((dir / "real").c_str(), 0777), 0);
  ASSERT_EQ(symlink("real/game.dat", (dir / "dangling.dat").c_str()), 0);
  ASSERT_EQ(symlink("dangling.dat", (dir / "chain.dat").c_str()), 0);
  std::string target;
  ASSERT_EQ(env->ResolveLink((dir / "chain.dat").c_str(), &target), 0);
  EXPECT_EQ(target, dir / "real/game.dat");

  std::unique_ptr<File> f;
  ASSERT_EQ(env->Open((dir / "chain.dat").c_str(), Access::ReadWrite, Share::None,
                      Disposition::CreateAlways, 0, &f),
            0);
  uint32_t put = 0;
  ASSERT_EQ(f->Write("abc", 3, &put), 0);
  f.reset();
  EXPECT_EQ(ReadFileBytes(dir / "real/game.dat"), "abc");
  struct stat st;
  ASSERT_EQ(lstat((dir / "dangling.dat").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));

  ASSERT_EQ(symlink("loop.dat", (dir / "loop.dat").c_str()), 0);
  EXPECT_EQ(env->Open((dir / "loop.dat").c_str(), Access::ReadWrite, Share::None,
                      Disposition::CreateAlways, 0, &f),
            ELOOP);
  ASSERT_EQ(symlink("nofolder/x.dat", (dir / "nowhere.dat").c_str()), 0);
  EXPECT_EQ(env->Open((dir / "nowhere.dat").c_str(), Access::ReadWrite, Share::None,
                      Disposition::OpenAlways, 0, &f),
            ENOENT);
}

// Names from the game's world are bytes of the ANSI code page; on disk they
// are UTF-8, as Wine names the files of a Windows program, and they come
// back in the code page.
TEST(EnvPathPosix, CodePageNamesAreUtf8OnDiskAndMatchInAnyCase) {
  TempDir dir;
  Env* env = Env::Default();
  std::unique_ptr<File> f;
  const std::string island = dir.path() + "\xCEle.map";  // "Île.map" in code page 1252
  ASSERT_EQ(
      env->Open(island.c_str(), Access::ReadWrite, Share::None, Disposition::CreateAlways, 0, &f),
      0);
  f.reset();
  EXPECT_TRUE(OnDisk(dir / "\xC3\x8Ele.map"));
  EXPECT_TRUE(env->Exists((dir.path() + "\xEELE.MAP").c_str()));  // "îLE.MAP"
  std::vector<plat::FolderEntry> entries;
  ASSERT_EQ(env->ListFolder(dir.path().c_str(), &entries), 0);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "\xCEle.map");
  ASSERT_EQ(symlink("\xC3\x8Ele.map", (dir / "link").c_str()), 0);
  std::string target;
  ASSERT_EQ(env->ResolveLink((dir / "link").c_str(), &target), 0);
  EXPECT_EQ(target, island);

  // In a double-byte code page the second byte of a character is no
  // separator: 0x95 0x5C is one character of code page 932.
  ASSERT_TRUE(plat::UseAnsiCodePage(932));
  const int made = env->CreateFolder((dir.path() + "\x95\x5C").c_str());
  plat::UseAnsiCodePage(0);
  ASSERT_EQ(made, 0);
  EXPECT_TRUE(OnDisk(dir / "\xE8\xA1\xA8"));
}

// A few characters of each code page, both ways, checked against the charts.
TEST(EnvPathPosix, CodePagesConvertAsTheirCharts) {
  struct Case {
    unsigned codePage;
    std::string ansi;
    std::u16string wide;
  } cases[] = {
      {1252, "\x80\x81\xCE\xFF", u"\u20AC\u0081\u00CE\u00FF"},
      {1250, "\x8A\xA5", u"\u0160\u0104"},
      {1251, "\xC0\xFF", u"\u0410\u044F"},
      {1253, "\xAA\xC1", u"\uF8F9\u0391"},  // 0xAA: undefined, as Windows maps it
      {874, "\xA1\xDB", u"\u0E01\uF8C1"},
      {932,
       "\x95\x5C"
       "A",
       u"\u8868A"},
      {936, "\xC4\xE3", u"\u4F60"},
      {949, "\xB0\xA1", u"\uAC00"},
      {950, "\xA4\x40", u"\u4E00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    ASSERT_TRUE(plat::UseAnsiCodePage(c.codePage));
    EXPECT_EQ(plat::AnsiToWide(c.ansi), c.wide);
    EXPECT_EQ(plat::WideToAnsi(c.wide), c.ansi);
    EXPECT_EQ(plat::Utf8ToAnsi(plat::AnsiToUtf8(c.ansi)), c.ansi);
    EXPECT_EQ(plat::IsLeadByte(static_cast<uint8_t>(c.ansi[0])),
              c.codePage >= 932 && c.codePage <= 950);
  }
  EXPECT_EQ(plat::WideToAnsi(u"\u0410"), "?");  // code page 950 has no Cyrillic A
  EXPECT_FALSE(plat::UseAnsiCodePage(1234));
  plat::UseAnsiCodePage(0);
  EXPECT_EQ(plat::AnsiCodePage(), 1252u);
  EXPECT_EQ(plat::Utf8ToAnsi("\xE4\xB8\x80 \xFF"), "? ?");  // not in 1252; not UTF-8
}

// With a Wine prefix's system.reg as the registry, drive letters are the
// prefix's drives, and the file is refused while the prefix's wineserver
// runs (it would write its own registry over the file).
TEST(EnvPathPosix, WinePrefixDrivesAndItsServer) {
  TempDir dir;
  Env* env = Env::Default();
  const std::string prefix = dir / "pfx";
  for (const char* folder : {"", "/drive_c", "/drive_c/Games", "/dosdevices"}) {
    ASSERT_EQ(mkdir((prefix + folder).c_str(), 0777), 0);
  }
  ASSERT_EQ(symlink("../drive_c", (prefix + "/dosdevices/c:").c_str()), 0);
  ASSERT_EQ(symlink("/", (prefix + "/dosdevices/z:").c_str()), 0);
  WriteFileBytes(prefix + "/system.reg",
                 "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n"
                 "[Software\\\\Varnholt] 1700000000\n\"A\"=\"b\"\n");
  plat::SetRegistryFile((prefix + "/system.reg").c_str());

  EXPECT_EQ(plat::ShownPath("C:\\Games\\MX.exe"), prefix + "/drive_c/Games/MX.exe");
  EXPECT_EQ(plat::ShownPath("z:\\usr\\lib"), "/usr/lib");
  std::unique_ptr<File> f;
  ASSERT_EQ(env->Open("c:\\GAMES\\New.txt", Access::ReadWrite, Share::None,
                      Disposition::CreateAlways, 0, &f),
            0);
  f.reset();
  EXPECT_TRUE(OnDisk(prefix + "/drive_c/Games/New.txt"));
  EXPECT_EQ(env->GetDriveType("C:\\"), DriveType::Fixed);
  EXPECT_FALSE(env->Exists("D:\\"));  // a drive the prefix has not

  // Debian's Wine names the server's folder below $TMPDIR in the prefix's
  // file "wineserver"; the running server holds a lock on its file "lock".
  struct stat st;
  ASSERT_EQ(stat(prefix.c_str(), &st), 0);
  char server[96];
  std::snprintf(server, sizeof server, "wine-test/server-%llx-%llx",
                static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  WriteFileBytes(prefix + "/wineserver", "wine-test");
  ASSERT_EQ(mkdir((dir / "wine-test").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((dir / server).c_str(), 0700), 0);
  const std::string lock = dir / (std::string(server) + "/lock");
  WriteFileBytes(lock, "");
  ASSERT_EQ(setenv("TMPDIR", dir.path().c_str(), 1), 0);
  std::unique_ptr<plat::RegKey> key;
  EXPECT_EQ(plat::Registry::Default()->OpenKey("SOFTWARE\\Varnholt", &key), 0);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    struct flock l {};
    l.l_type = F_WRLCK;
    l.l_len = 1;
    const int fd = open(lock.c_str(), O_RDWR);
    if (fd >= 0 && fcntl(fd, F_SETLK, &l) == 0 && write(ready[1], "x", 1) == 1) pause();
    _exit(1);
  }
  char byte = 0;
  EXPECT_EQ(read(ready[0], &byte, 1), 1);
  EXPECT_EQ(plat::Registry::Default()->OpenKey("SOFTWARE\\Varnholt", &key), plat::kRegErrBusy);
  const std::string note = plat::RegistryNote();
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  EXPECT_NE(note.find(prefix + "/system.reg"), std::string::npos) << note;
  EXPECT_NE(note.find("wineserver"), std::string::npos) << note;
  EXPECT_EQ(plat::Registry::Default()->OpenKey("SOFTWARE\\Varnholt", &key), 0);
  unsetenv("TMPDIR");
  plat::SetRegistryFile(nullptr);
}

TEST(EnvPathPosix, DriveTypes) {
  Env* env = Env::Default();
  EXPECT_EQ(env->GetDriveType("\\\\server\\share\\game\\"), DriveType::Remote);
  EXPECT_EQ(env->GetDriveType("//server/share/game/"), DriveType::Remote);
  EXPECT_EQ(env->GetDriveType("/no/such/folder/here/"), DriveType::NoRootDir);
  if (OnDisk("/proc/self")) {
    EXPECT_NE(env->GetDriveType("/proc/self/"), DriveType::Fixed);
  }
}

TEST(EnvPathPosix, SystemFolderComesFromTheEnvironment) {
  TempDir dir;
  ASSERT_EQ(setenv("UPDATER_SYSTEM_DIR", dir.path().c_str(), 1), 0);
  std::string expected = dir.path();
  expected.pop_back();
  EXPECT_EQ(Env::Default()->SystemFolder(), expected);
  unsetenv("UPDATER_SYSTEM_DIR");
  EXPECT_EQ(Env::Default()->SystemFolder(), "/usr/lib");
}

TEST(EnvPathPosix, StartedProgramRunsWithoutShellAndLeavesNoChild) {
  if (!OnDisk("/usr/bin/touch")) GTEST_SKIP() << "no /usr/bin/touch";
  TempDir dir;
  const std::string made = dir / "made by child";
  const std::string cmd = "\\usr\\bin\\touch \"" + made + "\" \"" + (dir / "$HOME;x") + "\"";
  ASSERT_EQ(Env::Default()->StartProgram(cmd.c_str()), 0);
  // touch makes its files one after the other: wait for the last.
  for (int i = 0; i < 500 && !(OnDisk(made) && OnDisk(dir / "$HOME;x")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(OnDisk(made));
  EXPECT_TRUE(OnDisk(dir / "$HOME;x"));  // no shell expanded or split it
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_EQ(Env::Default()->StartProgram("no-such-program-anywhere --x"), ENOENT);
}

}  // namespace
