// A font surface as the game stores it: one DIB with a 40-byte
// BITMAPINFOHEADER, its colour table (or the three bit-field masks) and its
// pixel rows, bottom-up, with nothing after them. Its length is stored
// nowhere: the game takes it from the header (DibSize), so a surface that
// holds more or fewer bytes than its header gives is damaged once copied.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Turns the bytes of a .bmp file (or a bare DIB without the 14-byte file
// header) into a font surface holding the same image:
// - BITMAPCOREHEADER (12 bytes, 3-byte palette entries), the 52- and 56-byte
//   headers and BITMAPV4HEADER/BITMAPV5HEADER become the 40-byte header; bit
//   fields stay as the 12-byte mask table after it (an alpha mask is
//   dropped); colour-space data and colour profiles are dropped;
// - top-down rows are turned bottom-up; RLE8 is unpacked into pixel rows;
// - the optional colour table of a bitmap above 8 bits (a display hint) is
//   dropped.
// Returns "" with the surface filled, or why the bitmap cannot be a surface
// (embedded JPEG or PNG, RLE4, other compressions, unknown headers, bytes
// missing, a header whose DibSize differs from the bytes the surface holds).
std::string MakeFontSurface(const std::vector<uint8_t>& file, std::vector<uint8_t>& surface);
