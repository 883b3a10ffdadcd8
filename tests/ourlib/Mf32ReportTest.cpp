// What cMf32 tells the debug reporter, read back from a debug log.
#include <gtest/gtest.h>

#include <string>

#include "ourlib/src/DebugReport.h"
#include "tests/ourlib/RecordFixture.h"
#include "tests/support/TestPaths.h"
#include "update/StoreGuarded.h"

using namespace records_test;
using testing_support::ReadFileBytes;
using testing_support::TempDir;

namespace {

TEST(Mf32Report, FailedOperationsReportTheirTextThenRaiseFromTheirOwnLine) {
  TempDir dir;
  cMf32* h = OpenStore(dir / "fonts", MFO_CREATE);
  ASSERT_NE(h, nullptr);
  const std::string dataFile = h->DataFileName();
  ASSERT_TRUE(OpenDebugLog((dir / "debug.log").c_str()));
  Bytes data = Pattern(40, 1);

  EXPECT_EQ(Guard([&] { h->RecGet(3, "gone", nullptr, 1); }), ERR_REC_MISSING);
  const FirstError after = FirstErrorRecord();  // the re-raise, recorded afresh after the report
  EXPECT_EQ(Guard([&] { h->RecPut(7, "", data.data(), 40, nullptr, 0, nullptr); }),
            ERR_REC_ARGUMENT);
  EXPECT_EQ(Guard([&] { h->RecPutNoname(data.data(), 0); }), ERR_REC_ARGUMENT);
  // A quiet miss reports nothing.
  EXPECT_EQ(Guard([&] { h->RecGet(3, "quiet", nullptr, 0); }), 0);
  CloseDebugLog();
  EXPECT_EQ(CloseStore(h), 0);

  EXPECT_STREQ(after.file, "ourlib/src/Mf32int");
  EXPECT_EQ(after.code, ERR_REC_MISSING);
  std::string log;  // the log is a text file: CR LF line ends on Windows
  for (char c : ReadFileBytes(dir / "debug.log")) {
    if (c != '\r') log += c;
  }
  EXPECT_NE(log.find("cMf32::RecGet \nFile=\"" + dataFile + "\" \nSect=M_FNT   Name=\"gone\" "),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("cMf32::RecPut \nFile=\"" + dataFile + "\" \nSect=M_SSPR  Name=\"\" "),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("cMf32::RecPutNoname"), std::string::npos) << log;
  EXPECT_NE(log.find("File: ourlib/src/Mf32int"), std::string::npos) << log;
  EXPECT_NE(log.find("ExcRaise: ourlib/src/Mf32int"), std::string::npos)
      << log;  // the forced -4 and -52
  EXPECT_NE(log.find("(-4)"), std::string::npos) << log;
  EXPECT_NE(log.find("(-52)"), std::string::npos) << log;
  EXPECT_EQ(log.find("quiet"), std::string::npos) << log;
}

TEST(Mf32Report, GuardedFormsTurnRaisesIntoResults) {
  TempDir dir;
  // Null handles: nothing is called.
  cMf32* none = nullptr;
  EXPECT_EQ(GuardedDelete(&none), 1);
  EXPECT_EQ(GuardedToBeg(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(GuardedRecPut(nullptr, 1, "a", "x", 1, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GuardedRecPutNoname(nullptr, "x", 1), -1);
  EXPECT_EQ(GuardedRecPtr(nullptr, 36), nullptr);
  EXPECT_EQ(GuardedRecGet(nullptr, 1, "a"), nullptr);
  int error = 0;
  EXPECT_EQ(GuardedRecKeyGetNext(nullptr, &error), nullptr);
  EXPECT_NE(error, 0);
  EXPECT_EQ(GuardedOpen((dir / "missing").c_str(), MFO_READ, 0, 0), nullptr);

  cMf32* h = GuardedOpen((dir / "s").c_str(), MFO_CREATE, 0, 0);
  ASSERT_NE(h, nullptr);
  Bytes data = Pattern(50, 2);
  EXPECT_NE(GuardedRecPut(h, 1, "a", data.data(), 50, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GuardedRecPut(h, 1, "", data.data(), 50, nullptr, 0, nullptr), nullptr);
  int32_t offset = GuardedRecPutNoname(h, data.data(), 50);
  EXPECT_GT(offset, 0);
  EXPECT_EQ(GuardedRecPutNoname(h, data.data(), 0), -1);
  EXPECT_EQ(GuardedRecGet(h, 1, "b"), nullptr);  // a reported miss
  void* record = GuardedRecGet(h, 1, "a");
  ASSERT_NE(record, nullptr);
  GuardedRecMemFree(h, &record);
  EXPECT_EQ(record, nullptr);
  EXPECT_EQ(GuardedToBeg(h, nullptr, nullptr), 1);
  EXPECT_NE(GuardedRecKeyGetNext(h, &error), nullptr);
  EXPECT_EQ(GuardedRecKeyGetNext(h, &error), nullptr);
  EXPECT_EQ(error, 0);  // the end, not a failure
  EXPECT_EQ(GuardedDelete(&h), 1);
  EXPECT_EQ(h, nullptr);
}

}  // namespace
