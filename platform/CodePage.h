// The system's ANSI code page, as far as the core needs it: paths are
// searched and cut a whole character at a time.
#pragma once

#include <cstdint>

namespace plat {

// True when b starts a double-byte character in the system's ANSI code page.
// The POSIX stand-in uses a single-byte code page: always false.
bool IsLeadByte(uint8_t b);

}  // namespace plat
