// The length of a font surface: one device-independent bitmap (a 40-byte
// BITMAPINFOHEADER, its colour table and its pixel rows, no file header).
// The length is stored nowhere; it follows from the header.
#pragma once

#include <cstdint>

constexpr int32_t kDibHeaderSize = 40;

// 40 + colour table bytes + pixel bytes, computed without overflow. -1 when
// the header gives no sound length: a negative width or height (top-down
// bitmaps) where the pixel bytes depend on them, or a result that does not
// fit a signed 32-bit length.
int64_t DibSize(const uint8_t* header);
