#include "update/DibSize.h"

#include "ourlib/src/ByteCodec.h"

namespace {

constexpr uint32_t kBitFields = 3;  // biCompression of 16- and 32-bit masks

}  // namespace

int64_t DibSize(const uint8_t* header) {
  int64_t width = GetI32(header + 4);
  int64_t height = GetI32(header + 8);
  int64_t bitCount = GetU16(header + 14);
  uint32_t compression = GetU32(header + 16);
  uint32_t sizeImage = GetU32(header + 20);
  uint32_t clrUsed = GetU32(header + 32);

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
