// Surfaces for font records in tests that build stores with updkit.
#pragma once

#include <string>

namespace testing_support {

// An 8-bit DIB with a 4-colour table: a 40-byte header, 16 bytes of colours
// and `height` rows of `width` pixels padded to 4 bytes, all of them `fill`.
std::string Dib(int width, int height, char fill);

// A .bmp file of a DIB with a 40-byte header: the 14-byte file header, whose
// pixel offset follows from biSizeImage (or the rows when it is 0), before it.
std::string BmpFile(const std::string& dib);

}  // namespace testing_support
