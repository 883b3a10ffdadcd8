#include "tests/support/Dib.h"

#include <algorithm>

namespace testing_support {

std::string Dib(int width, int height, char fill) {
  int row = (8 * width + 31) / 32 * 4;
  std::string b(40 + 16 + row * height, fill);
  std::fill(b.begin(), b.begin() + 40, '\0');
  auto put = [&](int at, unsigned v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
  };
  put(0, 40);  // biSize
  put(4, width);
  put(8, height);
  b[12] = 1;  // planes
  b[14] = 8;  // bits per pixel
  put(32, 4);  // colours used
  return b;
}

}  // namespace testing_support
