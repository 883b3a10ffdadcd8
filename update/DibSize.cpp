#include "update/DibSize.h"

namespace {

uint32_t Load32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

constexpr uint32_t kBitFields = 3;  // biCompression of 16- and 32-bit masks

}  // namespace

int64_t DibSize(const uint8_t* header) {
  int64_t width = static_cast<int32_t>(Load32(header + 4));
  int64_t height = static_cast<int32_t>(Load32(header + 8));
  int64_t bitCount = Load16(header + 14);
  uint32_t compression = Load32(header + 16);
  uint32_t sizeImage = Load32(header + 20);
  uint32_t clrUsed = Load32(header + 32);

  int64_t pixels = sizeImage;
  if (sizeImage == 0) {
    if (width < 0 || height < 0) return -1;
    int64_t row = (bitCount * width + 31) / 32 * 4;  // padded to a multiple of 4 bytes
    if (row != 0 && height > INT32_MAX / row) return -1;
    pixels = row * height;
  }
  int64_t colours = 0;
  if (clrUsed != 0) {
    colours = 4 * static_cast<int64_t>(clrUsed);
  } else if (bitCount >= 1 && bitCount <= 8) {
    colours = int64_t{4} << bitCount;
  } else if (bitCount > 8 && compression == kBitFields) {
    colours = 12;
  }
  int64_t size = kDibHeaderSize + colours + pixels;
  if (size > INT32_MAX) return -1;
  return size;
}
