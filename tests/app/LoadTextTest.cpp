// LoadText hands out texts from one 4100-byte area and starts again at its
// beginning once the position has passed 2052.
#include <gtest/gtest.h>

#include <vector>

#include "app/Messages.h"
#include "platform/Ui.h"
#include "tests/app/RecordingUi.h"

namespace {

// Loads "MX.exe" (7 bytes with its terminator) until the area has wrapped
// twice, and checks that the area restarted exactly when the position had
// passed 2052 and that texts loaded since are still intact.
TEST(LoadText, WrapsAroundAfter2052) {
  UseUpdaterStrings();
  std::vector<const char*> texts;
  const char* base = nullptr;
  int wraps = 0;
  size_t firstWrap = 0;
  for (int i = 0; i < 2000 && wraps < 2; ++i) {
    const char* t = LoadText(IDS_GAME_EXECUTABLE);
    ASSERT_STREQ(t, "MX.exe");
    if (!texts.empty() && t != texts.back() + 7) {
      // The only other move is back to the start of the area.
      ASSERT_LT(t, texts.back());
      if (base != nullptr) {
        EXPECT_EQ(t, base);
        size_t last = static_cast<size_t>(texts.back() - base) + 7;
        EXPECT_GT(last, 2052u);
        EXPECT_LE(last - 7, 2052u);
      }
      if (base == nullptr) firstWrap = texts.size();
      base = t;
      ++wraps;
    }
    texts.push_back(t);
  }
  ASSERT_EQ(wraps, 2);
  // The texts of the last full round are all still there.
  for (size_t i = firstWrap; i < texts.size(); ++i) EXPECT_STREQ(texts[i], "MX.exe");
  plat::UseResourcesOf(nullptr);
}

// A missing string is an empty text that takes one byte of the area.
TEST(LoadText, MissingStringIsEmptyAndTakesOneByte) {
  UseUpdaterStrings();
  const char* a = LoadText(IDS_GAME_EXECUTABLE);
  const char* b = LoadText(9999);
  const char* c = LoadText(9999);
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(b, "");
  if (b > a && c > b) {  // no wrap in between
    EXPECT_EQ(b, a + 7);
    EXPECT_EQ(c, b + 1);
  }
  plat::UseResourcesOf(nullptr);
}

}  // namespace
