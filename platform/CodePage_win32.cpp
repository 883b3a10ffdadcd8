#include <windows.h>

#include "platform/CodePage.h"

namespace plat {

bool IsLeadByte(uint8_t b) { return IsDBCSLeadByte(b) != FALSE; }

}  // namespace plat
