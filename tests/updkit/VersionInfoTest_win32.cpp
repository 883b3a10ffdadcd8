// The version resource of both Windows programs, read as Explorer's file
// properties read it: the project's version, a product name and what each
// program is.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/TestPaths.h"

namespace {

std::string Text(const std::vector<char>& info, const char* name) {
  char* value = nullptr;
  UINT length = 0;
  const std::string key = std::string("\\StringFileInfo\\040904E4\\") + name;
  if (!VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) ||
      value == nullptr) {
    return "(none)";
  }
  return std::string(value, length > 0 && value[length - 1] == '\0' ? length - 1 : length);
}

TEST(VersionInfo, BothProgramsCarryTheProjectsVersion) {
  unsigned major = 0, minor = 0, patch = 0;
  ASSERT_EQ(3, std::sscanf(UPD_PROJECT_VERSION, "%u.%u.%u", &major, &minor, &patch));
  const struct {
    std::string path, name;
  } kPrograms[] = {{testing_support::UpdaterPath(), "updater.exe"},
                   {testing_support::UpdkitPath(), "updkit.exe"}};
  for (const auto& program : kPrograms) {
    SCOPED_TRACE(program.name);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(program.path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(program.path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, (major << 16) | minor);
    EXPECT_EQ(fixed->dwFileVersionLS, patch << 16);
    EXPECT_EQ(fixed->dwProductVersionMS, (major << 16) | minor);
    EXPECT_EQ(Text(info, "FileVersion"), UPD_PROJECT_VERSION);
    EXPECT_EQ(Text(info, "ProductVersion"), UPD_PROJECT_VERSION);
    EXPECT_EQ(Text(info, "ProductName"), "Marovex Updater");
    EXPECT_EQ(Text(info, "OriginalFilename"), program.name);
    EXPECT_NE(Text(info, "FileDescription").find("Marovex"), std::string::npos);
  }
}

}  // namespace
