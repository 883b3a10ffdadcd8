// The argument check every pack and unpack entry point makes first, and
// the making of a stream form.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <utility>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Pack.h"

// Lengths are not negative, and a buffer may be null only when its length
// is zero.
inline bool PackBuffersValid(const uint8_t* src, int32_t srcLength, const uint8_t* dst,
                             int32_t capacity) {
  return srcLength >= 0 && capacity >= 0 && (src != nullptr || srcLength == 0) &&
         (dst != nullptr || capacity == 0);
}

// A stream form S made from args; raises ERR_NO_MEMORY (and gives null
// without a frame) when it or its working state (S::ready) cannot be had.
template <class S, class... Args>
std::unique_ptr<PackStream> MakePackStream(Args&&... args) {
  std::unique_ptr<S> s(new (std::nothrow) S(std::forward<Args>(args)...));
  if (s && s->ready()) return s;
  RaiseError(ERR_NO_MEMORY);
  return nullptr;
}
