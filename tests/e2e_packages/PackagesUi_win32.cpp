// The real updater.exe installing packages built by updkit.exe
// (`file = "x.pq", 2;`) with the real registry and its real dialogs. Needs a
// display (Xvfb under Wine). Every updater start costs seconds, so one run
// installs everything and completes, and one more ends on a damaged package.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/Ui.h"
#include "platform/testing/UiDriver.h"
#include "tests/support/GameInstall.h"
#include "tests/support/Lines.h"
#include "tests/support/TestPaths.h"
#include "tests/support/UiDriver_win32.h"
#include "tests/update/PackageBuilder.h"
#include "tests/update/PackageTestKit.h"

using namespace testing_support;
using pkgtest::Noise;
using pkgtest::Text;
using pkgtest::TimesOf;
namespace fs = std::filesystem;

namespace {

const int kWindowWaitMs = 60000;
const char kPlain[] = "PX is not a package";  // starts like one, is copied as it is

// FILETIMEs (100 ns since 1601-01-01 UTC) of 2002-03-04 at 02:30 and at
// 10:30, worked out apart from the installer's own conversion.
const uint64_t kAt0230 = 126596826000000000u;
const uint64_t kAt1030 = 126597114000000000u;

// A game, a folder of files, and x.pq built from it into the distribution:
//   a\b\text.txt  5000 bytes that pack: five 1 KiB PACK_LZ chunks
//   a\noise.bin   2600 bytes that do not: three stored chunks
//   early.txt     02:30, installed as it is
//   late.txt      14:30, installed as 10:30 (hours from 4 on move back 4)
//   empty\inner   an empty folder: an "*EMPTY" entry
// and plain.bin, a file that is not a package.
struct PackageGame {
  TempDir dir;
  GameInstall g{dir.path()};
  std::string src = dir / "src";

  PackageGame() {
    WriteMachineRegistry(g);
    fs::create_directories(src + "\\a\\b");
    fs::create_directories(src + "\\empty\\inner");
    WriteFileBytes(src + "\\a\\b\\text.txt", Text(5000));
    WriteFileBytes(src + "\\a\\noise.bin", Noise(2600));
    WriteFileBytes(src + "\\early.txt", "early");
    WriteFileBytes(src + "\\late.txt", "late");
    Kit("build " + Quote(g.dist + "x.pq") + " --from " + Quote(src) +
        " --lz --chunk-kib 1 --time-of early.txt=2002-03-04T02:30:00 --time-of "
        "late.txt=2002-03-04T14:30:00");
    g.Ship("plain.bin", kPlain);
    // A time of its own, far from now, that the copy must carry over.
    const std::string plain = g.dist + "plain.bin";
    fs::last_write_time(plain, fs::last_write_time(plain) - std::chrono::hours(24 * 400));
    g.Ship("Report.txt", "packages\r\n");
  }

  // updkit pkg with args; its standard output.
  std::string Kit(const std::string& args) {
    uint32_t code;
    const std::string out = RunUpdkit("pkg " + args, dir / "kit.out", &code);
    EXPECT_EQ(0u, code) << args << "\n" << out;
    return out;
  }
};

// The script both runs share: a package and a plain file installed.
const char kInstalls[] =
    "updatetype = 1\nsetbuild = 3\nsetserver = \"new.example\"\n"
    "dstpath = __MAIN + \"PKG\\\\\";\nfile = \"x.pq\", 2;\n"
    "dstpath = __MAIN;\nfile = \"plain.bin\", 2;\n";

TEST(PackagesUi, PackageAndPlainFileInstallAndTheRunCompletes) {
  PackageGame t;
  // The package holds what the installer is meant to meet.
  const std::string list = t.Kit("list " + Quote(t.g.dist + "x.pq"));
  EXPECT_NE(std::string::npos, list.find("\ntext.txt\ta\\b\tlz\t1\t5\t5000\t")) << list;
  EXPECT_NE(std::string::npos, list.find("\nnoise.bin\ta\tstored\t1\t3\t2600\t2600\t")) << list;
  EXPECT_NE(std::string::npos, list.find("\n*EMPTY\tempty\\inner\t")) << list;

  t.g.Ship("patch.txt", kInstalls);
  UpdaterProcess u(t.g, "patch.txt -L");
  WindowId done = u.Window(" DONE ", IsCompletion, kWindowWaitMs);
  ASSERT_NE(plat::kNoWindow, done) << "no completion dialog";
  EXPECT_EQ("The game has been updated successfully !\nNew version is  1.003.000  ",
            ItemText(done, kCompletionText));
  EXPECT_EQ("packages\r\n", ItemText(done, kReportText));
  Press(done, plat::kIdCancel);
  EXPECT_EQ(0u, u.Exit());

  const std::string pkg = t.g.game + "PKG\\";
  EXPECT_EQ(Text(5000), ReadFileBytes(pkg + "a\\b\\text.txt"));
  EXPECT_EQ(Noise(2600), ReadFileBytes(pkg + "a\\noise.bin"));
  EXPECT_EQ("early", ReadFileBytes(pkg + "early.txt"));
  EXPECT_EQ("late", ReadFileBytes(pkg + "late.txt"));
  EXPECT_TRUE(fs::is_directory(pkg + "empty\\inner"));
  EXPECT_TRUE(fs::is_empty(pkg + "empty\\inner"));
  EXPECT_FALSE(fs::exists(pkg + "*EMPTY"));
  EXPECT_EQ(kPlain, ReadFileBytes(t.g.game + "plain.bin"));

  EXPECT_EQ(kAt0230, TimesOf(pkg + "early.txt").lastWrite);
  EXPECT_EQ(kAt1030, TimesOf(pkg + "late.txt").lastWrite);
  EXPECT_EQ(TimesOf(t.g.dist + "plain.bin").lastWrite, TimesOf(t.g.game + "plain.bin").lastWrite);

  const std::string expected = kLogRule + "\r\nDestination : " + pkg + "\r\nSource : " + t.g.dist +
                               "x.pq\r\n"
                               "Updated file : " +
                               pkg +
                               "a\\b\\text.txt\r\n"
                               "Updated file : " +
                               pkg +
                               "a\\noise.bin\r\n"
                               "Updated file : " +
                               pkg +
                               "early.txt\r\n"
                               "Updated file : " +
                               pkg +
                               "late.txt\r\n"
                               "Files updated - 4, Bytes updated = 7609  \r\n" +
                               kLogRule + "\r\nDestination : " + t.g.game +
                               "\r\nSource : " + t.g.dist +
                               "plain.bin\r\n"
                               "Updated file : " +
                               t.g.game +
                               "plain.bin\r\n"
                               "Files updated - 1, Bytes updated = 19  \r\n";
  EXPECT_EQ(expected, ReadFileBytes(t.g.dist + "updlog.txt"));

  EXPECT_EQ(0x01030000u, VersionDword("Version"));
  EXPECT_EQ("new.example", VersionText("Server"));
}

// The same installs, then a package cut in half: the error box names it
// while the progress dialog still shows the run's counters; the run ends
// with -1, nothing of the damaged package is installed and nothing is
// written back.
TEST(PackagesUi, DamagedPackageShowsErrorReadingFileWithTheCountersSoFar) {
  PackageGame t;
  const std::string bytes = ReadFileBytes(t.g.dist + "x.pq");
  t.g.Ship("bad.pq", bytes.substr(0, bytes.size() / 2));
  t.g.Ship("patch.txt",
           std::string(kInstalls) + "dstpath = __MAIN + \"BAD\\\\\";\nfile = \"bad.pq\", 2;\n");
  UpdaterProcess u(t.g, "patch.txt -L");
  WindowId box = u.Window(" ERROR ", IsMessageBox, kWindowWaitMs);
  ASSERT_NE(plat::kNoWindow, box) << "no error box";
  const std::string message = "Error reading file  " + t.g.dist + "bad.pq";
  EXPECT_EQ(message, ItemText(box, plat::kMessageBoxTextId));

  WindowId progress = u.Window(kProgressCaption, nullptr, 1000);
  ASSERT_NE(plat::kNoWindow, progress) << "no progress dialog behind the error box";
  EXPECT_EQ(progress, plat::OwnerOf(box));  // and the box stays in front of it
  EXPECT_EQ("5", ItemText(progress, kFilesCounter));
  EXPECT_EQ("0", ItemText(progress, kUnitsCounter));
  EXPECT_EQ("7628", ItemText(progress, kBytesCounter));
  EXPECT_EQ(t.g.dist + "bad.pq", ItemText(progress, kSourceText));

  Press(box, plat::kIdOk);
  EXPECT_EQ(0xFFFFFFFFu, u.Exit());

  EXPECT_FALSE(fs::exists(t.g.game + "BAD"));
  EXPECT_EQ(Text(5000), ReadFileBytes(t.g.game + "PKG\\a\\b\\text.txt"));  // installed before
  const std::string log = ReadFileBytes(t.g.dist + "updlog.txt");
  const std::string tail = kLogRule + "\r\nDestination : " + t.g.game +
                           "BAD\\\r\nSource : " + t.g.dist + "bad.pq\r\n ERROR \r\n" + message +
                           "\r\n";
  ASSERT_GE(log.size(), tail.size()) << log;
  EXPECT_EQ(tail, log.substr(log.size() - tail.size())) << log;

  EXPECT_EQ(0x01020005u, VersionDword("Version"));
  EXPECT_EQ("old.example", VersionText("Server"));
}

// Cancel while a package is unpacked: the installer stops at its next
// check point, the dialog stays on the screen until the run has ended, and
// every file of the package is either installed whole or not at all.
TEST(PackagesUi, CancelDuringAPackageStopsItAndKeepsTheDialogToTheEnd) {
  PackageGame t;
  const int kFiles = 24;
  const size_t kSize = 4 << 20;
  const std::string big = t.dir / "big";
  fs::create_directories(big);
  const auto content = [](int i) { return std::string(kSize, static_cast<char>('a' + i)); };
  for (int i = 0; i < kFiles; ++i) WriteFileBytes(big + "\\f" + std::to_string(i), content(i));
  t.Kit("build " + Quote(t.g.dist + "big.pq") + " --from " + Quote(big));
  t.g.Ship("patch.txt", "updatetype = 0\ndstpath = __MAIN + \"BIG\\\\\";\nfile = \"big.pq\", 2;\n");
  UpdaterProcess u(t.g, "patch.txt");

  WindowId progress = u.Window(kProgressCaption, nullptr, kWindowWaitMs);
  ASSERT_NE(plat::kNoWindow, progress);
  for (int i = 0; i < 6000 && ItemText(progress, kFilesCounter) == "0"; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_NE("0", ItemText(progress, kFilesCounter)) << "no file of the package installed";
  Press(progress, plat::kIdCancel);

  WindowId box = u.Window(" ERROR ", IsMessageBox, kWindowWaitMs);
  ASSERT_NE(plat::kNoWindow, box) << "no error box";
  EXPECT_NE(std::string::npos, ItemText(box, plat::kMessageBoxTextId).find("\nUser`s break  "));
  EXPECT_EQ(progress, u.Window(kProgressCaption, nullptr, 10));
  EXPECT_EQ(progress, plat::OwnerOf(box));
  const std::string files = ItemText(progress, kFilesCounter);
  Press(box, plat::kIdOk);
  EXPECT_EQ(0xFFFFFFFFu, u.Exit());

  // What the counter showed is what is there: whole files, and nothing else.
  int installed = 0;
  for (const auto& entry : fs::directory_iterator(t.g.game + "BIG")) {
    const std::string name = entry.path().filename().string();
    ASSERT_EQ('f', name[0]) << name;
    EXPECT_EQ(content(std::stoi(name.substr(1))), ReadFileBytes(entry.path().string())) << name;
    ++installed;
  }
  EXPECT_EQ(files, std::to_string(installed));
  EXPECT_LT(installed, kFiles);
  EXPECT_EQ(0x01020005u, VersionDword("Version"));
}

}  // namespace
