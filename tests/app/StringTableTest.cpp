// Every text of the string table, as the updater shows it. The expected
// texts are written out here on purpose, not taken from the list the table
// is built from, so a changed blank in that list fails here.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "app/Messages.h"
#include "platform/Ui.h"
#include "tests/app/RecordingUi.h"
#include "tests/support/TestPaths.h"

void UseUpdaterStrings() {
  InstallStringTable();
  ASSERT_TRUE(plat::UseResourcesOf(testing_support::UpdaterPath().c_str()));
}

namespace {

struct Expected {
  int id;
  const char* text;
};

const Expected kTable[] = {
    {1, "Syntax error, code="},
    {2, "Not enough memory "},
    {3, "User`s break "},
    {4, "Error open file "},
    {5, "Error creating file "},
    {6, "Error reading file "},
    {7, "Error writing file "},
    {8, "Not opened data file "},
    {9, "Unknown or invalid operator "},
    {10, "Unknown or invalid parameter "},
    {11, "Incorrect parameters for "},
    {12, "Incorrect value of variable "},
    {13, "Expected = "},
    {14, "Expected variable or constant in expression for "},
    {15, "Not defined variable  "},
    {16, "Incorrect type of variable "},
    {17, "Incorrect operation by variable "},
    {18, "Syntax error in expression for "},
    {19, "Expected ( "},
    {20, "Expected , or ) "},
    {21, "Incorrect name for record "},
    {22, "Incorrect name of source file "},
    {23, "Error writing database file "},
    {24, "Incorrect parameters for image location "},
    {25, "Error reading Registry information "},
    {26, "Incorrect version. Current version is "},
    {27, "Error copying file "},
    {28, "Error in compare function "},
    {29, "Error creating directory "},
    {30, "Invalid type of installation for this update "},
    {31, "Undefined type of update "},
    {32, "Error starting program "},
    {50, "English"},
    {51, "Processing file : %s\nLine : %04d\n%s%s%s "},
    {52, " ERROR "},
    {63, "The game has been updated successfully !\nNew version is %s "},
    {64, "\n\nDo you want to start the game? "},
    {65, " DONE "},
    {66, "MX.exe"},
    {67, "Report.txt"},
    {962, "Error open file "},
    {963, "Error reading file "},
    {964, "Invalid file "},
    {965, "Not enough memory  "},
    {966, "Invalid directory "},
    {967, "Error writing file "},
    {968, "User`s break."},
    {969, "Error creating file "},
    {970, "Reserved"},
    {971, "Reserved"},
    {972, "Reserved"},
    {973, "Reserved"},
    {974, "Reserved"},
    {975, "Reserved"},
    {976, "Reserved"},
};

class StringTable : public ::testing::Test {
 protected:
  void SetUp() override { UseUpdaterStrings(); }
  void TearDown() override { plat::UseResourcesOf(nullptr); }
};

TEST_F(StringTable, EveryTextIsExact) {
  for (const Expected& e : kTable) {
    EXPECT_EQ(std::string(LoadText(e.id)), e.text) << "string " << e.id;
  }
}

TEST_F(StringTable, NoOtherStrings) {
  std::set<int> listed;
  for (const Expected& e : kTable) listed.insert(e.id);
  for (int id = 0; id < 1100; ++id) {
    if (listed.count(id) != 0) continue;
    const char* text = LoadText(id);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "") << "string " << id;
  }
}

TEST_F(StringTable, NamedIdsMatchTheTable) {
  EXPECT_STREQ(LoadText(IDS_ERROR_CAPTION), " ERROR ");
  EXPECT_STREQ(LoadText(MSG_ERROR_READING_REGISTRY + 1), "Error reading Registry information ");
  EXPECT_STREQ(LoadText(MSG_USER_BREAK + 1), "User`s break ");
  EXPECT_STREQ(LoadText(IDS_FILE_USER_BREAK), "User`s break.");
}

// A text is cut to the buffer it is loaded into, and always terminated.
TEST(LoadResString, CutsToCapacity) {
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  UseUpdaterStrings();
  int n = plat::BackendUi()->LoadResString(IDS_ERROR_READING_REGISTRY, buf, sizeof buf);
  plat::UseResourcesOf(nullptr);
  EXPECT_EQ(n, 7);
  EXPECT_STREQ(buf, "Error r");
}

}  // namespace
