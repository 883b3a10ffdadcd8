// `updkit.exe dist make` on a small pair of game folders, then the real
// updater.exe with the real registry and its real dialogs on a copy of OLD:
// the installation then holds NEW and the registry the new version. Needs a
// display (Xvfb under Wine).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/Ui.h"
#include "platform/testing/UiDriver.h"
#include "tests/e2e_dist/DistTestKit.h"
#include "tests/support/Dib.h"
#include "tests/support/GameInstall.h"
#include "tests/support/Pattern.h"
#include "tests/support/TestPaths.h"
#include "tests/support/UiDriver_win32.h"
#include "tests/update/PackageBuilder.h"

using namespace testing_support;
using namespace disttest;
namespace fs = std::filesystem;

namespace {

const int kWindowWaitMs = 60000;

TEST(DistUi, MadeDistributionUpdatesTheOldVersionToTheNew) {
  TempDir dir;
  GamePair pair(dir.path());
  pair.Old("readme.txt", "readme of 1.002.005");
  pair.New("README.TXT", "readme of 1.003.000");
  pair.New("MAPS/a.map", pkgtest::Text(5000));
  pair.New("MAPS/b.map", pkgtest::Text(6000) + "b");
  pair.NewFolder("MODS/empty");
  pair.OldStore("Data/UNITS.DKX",
                {{1, "lz", pkgtest::Text(5000), 1}, Font("arial", {Dib(4, 2, 'a')})});
  pair.NewStore("Data/UNITS.DKX", {{1, "lz", pkgtest::Text(6000), 1},
                                   Font("arial", {Dib(4, 2, 'b')}),
                                   {0, "new", Pattern(40, 1)}});
  GameInstall g(dir.path(), false);
  fs::remove(g.dist);
  const std::string out = g.dist.substr(0, g.dist.size() - 1);  // no backslash before a quote
  uint32_t code = 0;
  const std::string said =
      RunUpdkit("dist make " + Quote(pair.oldRoot) + " " + Quote(pair.newRoot) + " " + Quote(out) +
                    " --from 1.002.005 --to 1.003.000",
                dir / "kit.out", &code);
  ASSERT_EQ(0u, code) << said;
  fs::copy_file(UpdaterPath(), g.Updater());
  CopyFolder(pair.oldRoot, g.game);
  WriteMachineRegistry(g);

  UpdaterProcess u(g, "patch.txt");
  WindowId done = u.Window(" DONE ", IsCompletion, kWindowWaitMs);
  ASSERT_NE(plat::kNoWindow, done) << "no completion dialog";
  EXPECT_EQ(0u, ItemText(done, kReportText).find("Update to version 1.003.000"));
  Press(done, plat::kIdCancel);
  EXPECT_EQ(0u, u.Exit());
  EXPECT_EQ(0x01030000u, VersionDword("Version"));
  ExpectUpdated(ContentsOf(g.game), ContentsOf(pair.oldRoot), ContentsOf(pair.newRoot));
}

}  // namespace
