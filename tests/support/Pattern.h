// Incompressible test bytes: the same n and seed give the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace testing_support {

// An xorshift sequence, one byte per step.
inline std::string Pattern(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

}  // namespace testing_support
