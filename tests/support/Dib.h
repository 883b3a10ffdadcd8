// Surfaces for font records in tests that build stores with updkit.
#pragma once

#include <string>

namespace testing_support {

// An 8-bit DIB with a 4-colour table: a 40-byte header, 16 bytes of colours
// and `height` rows of `width` pixels padded to 4 bytes, all of them `fill`.
std::string Dib(int width, int height, char fill);

}  // namespace testing_support
