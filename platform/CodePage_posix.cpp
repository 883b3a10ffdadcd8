#include "platform/CodePage.h"

namespace plat {

bool IsLeadByte(uint8_t) { return false; }

}  // namespace plat
