#include "platform/codepage.h"

namespace plat {

bool IsLeadByte(uint8_t) { return false; }

}  // namespace plat
