// Public engine entry points raise their codes to the caller's frame; when
// the caller has none, the code is returned instead. RunRaising gives the
// engine's inner code a frame of its own in that case, so that inner code
// can always rely on a raise leaving it (and RAII freeing what it holds).
#pragma once

#include "ourlib/src/ErrFrame.h"

// Runs f; returns 0, or (only without a caller's frame) the code raised in f.
template <class F>
int RunRaising(F&& f) {
  if (ErrFrameHead() != nullptr) {
    f();
    return 0;
  }
  return Guard(f);
}
