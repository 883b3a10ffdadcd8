#include "tools/updkit/FontSurface.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "ourlib/src/ByteCodec.h"
#include "update/DibSize.h"

namespace {

constexpr int64_t kFileHeader = 14;  // "BM", file size, reserved, offset of the pixels
constexpr uint32_t kCoreHeader = 12;
constexpr int64_t kMaskTable = 12;  // red, green and blue masks after a 40-byte header

// biCompression values.
constexpr uint32_t kRgb = 0;
constexpr uint32_t kRle8 = 1;
constexpr int64_t kMaxUnpackedRows = int64_t{64} << 20;  // bytes an RLE8 image may unpack to
constexpr uint32_t kRle4 = 2;
constexpr uint32_t kBitFields = 3;
constexpr uint32_t kJpeg = 4;
constexpr uint32_t kPng = 5;

std::string Text(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

std::string Text(const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  return line;
}

bool KnownHeader(uint32_t size) {
  return size == kCoreHeader || size == kDibHeaderSize || size == 52 || size == 56 || size == 108 ||
         size == 124;
}

bool ValidBits(bool core, uint32_t compression, uint16_t bits) {
  if (compression == kRle8) return bits == 8;
  if (compression == kBitFields) return bits == 16 || bits == 32;
  if (core) return bits == 1 || bits == 4 || bits == 8 || bits == 24;
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Unpacks RLE8 data into bottom-up rows of `row` bytes each (out is zeroed;
// pixels the data skips keep colour index 0). Runs may fill a row's padding
// too, as some writers (ImageMagick) encode it. "" or what is wrong.
std::string UnpackRle8(const uint8_t* in, int64_t n, int64_t height, int64_t row, uint8_t* out) {
  const std::string damaged = "holds damaged RLE8 data (a run leaves the image)";
  int64_t x = 0;
  int64_t y = 0;
  int64_t i = 0;
  while (i + 2 <= n) {
    const int64_t count = in[i];
    const int64_t value = in[i + 1];
    i += 2;
    if (count > 0) {  // count pixels of one colour
      if (y >= height || x + count > row) return damaged;
      std::memset(out + y * row + x, static_cast<int>(value), static_cast<size_t>(count));
      x += count;
    } else if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of bitmap
      return "";
    } else if (value == 2) {  // move right and up
      if (i + 2 > n) return damaged;
      x += in[i];
      y += in[i + 1];
      i += 2;
      if (x > row || y > height) return damaged;
    } else {  // `value` literal pixels, padded to a 16-bit boundary
      if (i + value > n || y >= height || x + value > row) return damaged;
      std::memcpy(out + y * row + x, in + i, static_cast<size_t>(value));
      x += value;
      i += value + (value & 1);
    }
  }
  return "";  // the data ends without its end-of-bitmap mark: the rest stays 0
}

}  // namespace

std::string MakeFontSurface(const std::vector<uint8_t>& file, std::vector<uint8_t>& surface) {
  surface.clear();
  const uint8_t* dib = file.data();
  int64_t size = static_cast<int64_t>(file.size());
  // Where the pixels start, from the start of the DIB; a bare DIB has them
  // right after its colour table.
  bool fileHeader = false;
  int64_t pixelAt = 0;
  if (size >= kFileHeader && dib[0] == 'B' && dib[1] == 'M') {
    fileHeader = true;
    pixelAt = static_cast<int64_t>(GetU32(dib + 10)) - kFileHeader;
    dib += kFileHeader;
    size -= kFileHeader;
  }
  if (size < 4) return "holds no bitmap header";
  const uint32_t headerSize = GetU32(dib);
  if (!KnownHeader(headerSize)) {
    return Text(
        "has a %u-byte bitmap header; only headers of 12, 40, 52, 56, 108 and 124 bytes are "
        "understood",
        headerSize);
  }
  if (size < headerSize) return "ends inside its bitmap header";

  const bool core = headerSize == kCoreHeader;
  int64_t width = 0;
  int64_t height = 0;
  uint16_t bits = 0;
  uint32_t compression = kRgb, sizeImage = 0, xPerMetre = 0, yPerMetre = 0, clrUsed = 0,
           clrImportant = 0;
  if (core) {
    width = GetU16(dib + 4);
    height = GetU16(dib + 6);
    bits = GetU16(dib + 10);
  } else {
    width = GetI32(dib + 4);
    height = GetI32(dib + 8);
    bits = GetU16(dib + 14);
    compression = GetU32(dib + 16);
    sizeImage = GetU32(dib + 20);
    xPerMetre = GetU32(dib + 24);
    yPerMetre = GetU32(dib + 28);
    clrUsed = GetU32(dib + 32);
    clrImportant = GetU32(dib + 36);
  }
  switch (compression) {
    case kRgb:
    case kRle8:
    case kBitFields:
      break;
    case kRle4:
      return "is RLE4-compressed, which a font surface cannot hold; save it uncompressed";
    case kJpeg:
      return "holds an embedded JPEG image, which a font surface cannot hold";
    case kPng:
      return "holds an embedded PNG image, which a font surface cannot hold";
    default:
      return Text("uses compression %u, which a font surface cannot hold", compression);
  }
  if (!ValidBits(core, compression, bits)) {
    return Text("has %u bits per pixel with compression %u, which is no valid bitmap", bits,
                compression);
  }
  if (width <= 0 || height == 0) return "has no pixels";
  // The game's surfaces are bottom-up: DibSize has no length for a negative
  // height, so top-down rows are turned over.
  const bool topDown = height < 0;
  if (topDown) {
    if (compression == kRle8) return "is RLE8-compressed and top-down, which no valid bitmap is";
    height = -height;
  }

  // Masks and colour table as the file holds them.
  int64_t tableAt = headerSize;
  const uint8_t* masks = nullptr;
  if (compression == kBitFields) {
    masks = dib + kDibHeaderSize;  // inside the larger headers, after the 40-byte one
    if (headerSize == static_cast<uint32_t>(kDibHeaderSize)) tableAt += kMaskTable;
  }
  const int64_t entrySize = core ? 3 : 4;
  int64_t entries = clrUsed;  // above 8 bits an optional table, dropped below
  if (bits <= 8 && clrUsed == 0) entries = int64_t{1} << bits;
  if (core && fileHeader && pixelAt >= tableAt && (pixelAt - tableAt) / 3 < entries) {
    entries = (pixelAt - tableAt) / 3;  // a short OS/2 palette
  }
  if (bits <= 8 && entries == 0) return "has no colour table";
  const int64_t tableEnd = tableAt + entrySize * entries;
  if (tableEnd > size) return "ends inside its colour table";
  if (!fileHeader) {
    pixelAt = tableEnd;
  } else if (pixelAt < tableEnd) {
    return "has its pixel data start inside its headers or colour table";
  }

  const int64_t row = (bits * width + 31) / 32 * 4;  // padded to a multiple of 4 bytes
  if (height > INT32_MAX / row) return "is too large for a font surface";
  const int64_t pixels = row * height;

  if (compression != kRle8 && pixelAt + pixels > size) {
    return Text("ends before its pixel rows do (%lld bytes missing)",
                static_cast<long long>(pixelAt + pixels - size));
  }

  // RLE8 escapes can skip whole rows, so a few bytes may rightly claim a
  // large blank image; no font surface is anywhere near this size.
  if (compression == kRle8 && pixels > kMaxUnpackedRows) return "is too large for a font surface";
  const int64_t packed = sizeImage != 0 ? sizeImage : size - pixelAt;  // RLE8 data
  if (compression == kRle8 && pixelAt + packed > size)
    return "ends before its compressed pixel data does";

  uint32_t outClrUsed = 0;
  uint32_t outClrImportant = 0;
  if (bits <= 8) {
    outClrUsed =
        core ? (entries < (int64_t{1} << bits) ? static_cast<uint32_t>(entries) : 0) : clrUsed;
    outClrImportant = core ? 0 : clrImportant;
  }
  uint8_t header[kDibHeaderSize] = {};
  PutI32(header, kDibHeaderSize);
  PutI32(header + 4, static_cast<int32_t>(width));
  PutI32(header + 8, static_cast<int32_t>(height));
  PutI16(header + 12, 1);  // planes
  PutI16(header + 14, static_cast<int16_t>(bits));
  PutI32(header + 16, static_cast<int32_t>(compression == kRle8 ? kRgb : compression));
  PutI32(header + 20,
         static_cast<int32_t>(compression == kRle8 ? static_cast<uint32_t>(pixels) : sizeImage));
  PutI32(header + 24, static_cast<int32_t>(xPerMetre));
  PutI32(header + 28, static_cast<int32_t>(yPerMetre));
  PutI32(header + 32, static_cast<int32_t>(outClrUsed));
  PutI32(header + 36, static_cast<int32_t>(outClrImportant));

  std::vector<uint8_t> out(header, header + kDibHeaderSize);
  if (masks != nullptr) out.insert(out.end(), masks, masks + kMaskTable);
  if (bits <= 8) {
    for (int64_t i = 0; i < entries; ++i) {
      const uint8_t* e = dib + tableAt + entrySize * i;
      out.insert(out.end(), {e[0], e[1], e[2], core ? uint8_t{0} : e[3]});
    }
  }
  const size_t rowsAt = out.size();
  out.resize(rowsAt + static_cast<size_t>(pixels));
  uint8_t* rows = out.data() + rowsAt;
  if (compression == kRle8) {
    std::string wrong = UnpackRle8(dib + pixelAt, packed, height, row, rows);
    if (!wrong.empty()) return wrong;
  } else {
    for (int64_t y = 0; y < height; ++y) {
      const int64_t from = topDown ? height - 1 - y : y;
      std::memcpy(rows + y * row, dib + pixelAt + from * row, static_cast<size_t>(row));
    }
  }

  const int64_t expected = DibSize(out.data());
  if (expected != static_cast<int64_t>(out.size())) {
    return Text(
        "would be a surface of %lld bytes whose header gives %lld (biSizeImage %u); "
        "the game would copy the wrong number of bytes",
        static_cast<long long>(out.size()), static_cast<long long>(expected), sizeImage);
  }
  surface = std::move(out);
  return "";
}
