#include "tests/support/Dib.h"

#include <algorithm>
#include <cstdint>

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
  b[12] = 1;   // planes
  b[14] = 8;   // bits per pixel
  put(32, 4);  // colours used
  return b;
}

std::string BmpFile(const std::string& dib) {
  auto get = [&](size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
      v |= static_cast<uint32_t>(static_cast<uint8_t>(dib.at(at + i))) << (8 * i);
    return v;
  };
  uint32_t bits = get(14) & 0xFFFF;
  uint32_t pixels = get(20) != 0 ? get(20) : (bits * get(4) + 31) / 32 * 4 * get(8);
  std::string file = "BM" + std::string(12, '\0');
  auto put = [&](int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<char>(v >> (8 * i));
  };
  put(2, static_cast<uint32_t>(14 + dib.size()));
  put(10, static_cast<uint32_t>(14 + dib.size() - pixels));
  return file + dib;
}

}  // namespace testing_support
