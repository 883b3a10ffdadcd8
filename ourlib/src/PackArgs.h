// The argument check every pack and unpack entry point makes first.
#pragma once

#include <cstdint>

// Lengths are not negative, and a buffer may be null only when its length
// is zero.
inline bool PackBuffersValid(const uint8_t* src, int32_t srcLength, const uint8_t* dst,
                             int32_t capacity) {
  return srcLength >= 0 && capacity >= 0 && (src != nullptr || srcLength == 0) &&
         (dst != nullptr || capacity == 0);
}
