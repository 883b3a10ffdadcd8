// The version resource of both Windows programs, read as Explorer's file
// properties read it: the project's version, a product name and what each
// program is.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/testing/VersionResource.h"
#include "tests/support/TestPaths.h"

namespace {

TEST(VersionInfo, BothProgramsCarryTheProjectsVersion) {
  unsigned major = 0, minor = 0, patch = 0;
  ASSERT_EQ(3, std::sscanf(UPD_PROJECT_VERSION, "%u.%u.%u", &major, &minor, &patch));
  const struct {
    std::string path, name;
  } kPrograms[] = {{testing_support::UpdaterPath(), "updater.exe"},
                   {testing_support::UpdkitPath(), "updkit.exe"}};
  for (const auto& program : kPrograms) {
    SCOPED_TRACE(program.name);
    plat::VersionResource info;
    ASSERT_EQ(0, info.Read(program.path));
    EXPECT_EQ(info.fileVersionMS, (major << 16) | minor);
    EXPECT_EQ(info.fileVersionLS, patch << 16);
    EXPECT_EQ(info.productVersionMS, (major << 16) | minor);
    EXPECT_EQ(info.Text("FileVersion"), UPD_PROJECT_VERSION);
    EXPECT_EQ(info.Text("ProductVersion"), UPD_PROJECT_VERSION);
    EXPECT_EQ(info.Text("ProductName"), "Marovex Updater");
    EXPECT_EQ(info.Text("OriginalFilename"), program.name);
    EXPECT_NE(info.Text("FileDescription").find("Marovex"), std::string::npos);
  }
}

}  // namespace
